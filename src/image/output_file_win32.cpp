#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

#include "image/file_handle_win32.h"
#include "image/output_file.h"

namespace kelvo {
namespace {

bool SameFile(const BY_HANDLE_FILE_INFORMATION& file, const std::string& path) {
  // No access asked, so a file that another program holds exclusively is still compared.
  const HANDLE other =
      ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool same = ::GetFileInformationByHandle(other, &info) &&
                    info.dwVolumeSerialNumber == file.dwVolumeSerialNumber &&
                    info.nFileIndexHigh == file.nFileIndexHigh &&
                    info.nFileIndexLow == file.nFileIndexLow;
  ::CloseHandle(other);
  return same;
}

std::string NotRegular(const std::string& path) {
  return path + " is not a regular file: not written";
}

// Why the file at path may not be emptied; empty when it may.
std::string Refusal(HANDLE file, const std::string& path, const std::vector<std::string>& keep) {
  BY_HANDLE_FILE_INFORMATION info{};
  switch (KindOfFile(file, info)) {
    case FileKind::kLink:
      return path + " is a link: not written";
    case FileKind::kOther:
      return NotRegular(path);
    case FileKind::kRegular:
      break;
  }
  for (const std::string& kept : keep) {
    if (SameFile(info, kept)) return path + " is the file being sent: not written";
  }
  return "";
}

}  // namespace

std::FILE* OpenOutputFile(const std::string& path, const std::vector<std::string>& keep,
                          std::string& why, OutputMode mode) {
  const bool append = mode == OutputMode::kAppend;
  // Not emptied yet: that waits until it is known to be a file that may be. Others may read it
  // as it grows; none may write it meanwhile. Without the right to write data, only to append
  // it, every write goes to the end.
  const DWORD access = append ? FILE_GENERIC_WRITE & ~FILE_WRITE_DATA : GENERIC_WRITE;
  const HANDLE file = ::CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // A folder does not open as a file at all.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    const bool folder =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    why = folder ? NotRegular(path) : SystemMessage(error);
    return nullptr;
  }
  why = Refusal(file, path, keep);
  if (why.empty() && !append && !::SetEndOfFile(file)) why = SystemMessage(::GetLastError());
  if (!why.empty()) {
    ::CloseHandle(file);
    return nullptr;
  }
  // The runtime's descriptor owns the handle from here, and the stream owns the descriptor.
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file),
                                   _O_WRONLY | _O_BINARY | (append ? _O_APPEND : 0));
  if (fd < 0) {
    why = std::strerror(errno);
    ::CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = ::_fdopen(fd, append ? "ab" : "wb");
  if (stream == nullptr) {
    why = std::strerror(errno);
    ::_close(fd);
  }
  return stream;
}

// The handle may only append, so a short write cannot be cut back here; but one WriteFile that
// extends a file gets the space for all of it or fails, so a line is never left in part.
bool AppendWhole(std::FILE* file, std::string_view text) {
  const int fd = ::_fileno(file);
  return ::_write(fd, text.data(), static_cast<unsigned>(text.size())) ==
             static_cast<int>(text.size()) &&
         ::FlushFileBuffers(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)));
}

}  // namespace kelvo

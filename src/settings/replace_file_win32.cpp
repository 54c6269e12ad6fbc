#include <windows.h>

#include <vector>

#include "settings/replace_file.h"
#include "transfer/file_handle_win32.h"

namespace kelvo {
namespace {

bool WriteAll(HANDLE file, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written == 0) {
      return false;
    }
    bytes = bytes.subspan(written);
  }
  return true;
}

std::vector<std::uint8_t> ReadAll(HANDLE file) {
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[512];
  DWORD got = 0;
  while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  return bytes;
}

bool Rewind(HANDLE file) {
  return ::SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

std::string RewriteInPlace(const std::string& path, std::span<const std::uint8_t> bytes) {
  // Shared, as whoever kept the file from being replaced may still hold it open.
  const HANDLE file =
      ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return SystemMessage(::GetLastError());
  const std::vector<std::uint8_t> old = ReadAll(file);
  std::string why;
  if (!Rewind(file) || !WriteAll(file, bytes) || !::SetEndOfFile(file) ||
      !::FlushFileBuffers(file)) {
    why = SystemMessage(::GetLastError());
    if (Rewind(file) && WriteAll(file, old)) ::SetEndOfFile(file);
  }
  ::CloseHandle(file);
  return why;
}

// Wine's ReplaceFile fails on a name relative to the current folder ("KELVO.DAT"); the full
// path names the same file on every system.
std::string FullPath(const std::string& path) {
  char full[MAX_PATH];
  const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return length > 0 && length < sizeof full ? std::string(full, length) : path;
}

// Gives the file at path the temporary's bytes. ReplaceFile keeps the old file's attributes
// and access rights; a first save has none. An indexer, a virus scanner or a cloud client that
// has the file open for a moment makes it fail, so it is tried for about a second.
bool TakeTemporary(const std::string& path, const std::string& temporary) {
  constexpr int kTries = 10;  // 100 ms apart
  for (int tries = 1;; ++tries) {
    // Looked at each time: a replace that fails half-way may have removed the old file.
    const bool replaced =
        ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES
            ? ::ReplaceFileA(path.c_str(), temporary.c_str(), nullptr,
                             REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
            : ::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH);
    if (replaced || tries == kTries) return replaced;
    ::Sleep(100);
  }
}

}  // namespace

std::string ReplaceFileContents(const std::string& name, std::span<const std::uint8_t> bytes) {
  const std::string path = FullPath(name);
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  // A replace needs only the folder's permission; it must not defeat a read-only file.
  if (exists && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return SystemMessage(ERROR_ACCESS_DENIED);
  }

  // The process id keeps the name apart from any other running Kelvo's; a leftover with the
  // same name belongs to a dead process and is overwritten.
  const std::string temporary = path + "." + std::to_string(::GetCurrentProcessId()) + ".tmp";
  const HANDLE file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return RewriteInPlace(path, bytes);
  // Flushed before the replace, so that after a crash the name holds either the old or the
  // new bytes, never an empty file.
  std::string why;
  if (!WriteAll(file, bytes) || !::FlushFileBuffers(file)) why = SystemMessage(::GetLastError());
  ::CloseHandle(file);
  if (why.empty() && TakeTemporary(path, temporary)) return "";
  ::DeleteFileA(temporary.c_str());
  return why.empty() ? RewriteInPlace(path, bytes) : why;
}

}  // namespace kelvo

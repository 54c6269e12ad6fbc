#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "image/input_file.h"

namespace kelvo {

namespace {

FileError ErrorFromLastError(DWORD error, const std::string& path) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return FileError::kNoSuchFile;
    // Windows refuses to open a folder as a file as access denied.
    case ERROR_ACCESS_DENIED: {
      const DWORD attributes = ::GetFileAttributesA(path.c_str());
      return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                 ? FileError::kFolder
                 : FileError::kPermissionDenied;
    }
    case ERROR_SHARING_VIOLATION:
      return FileError::kInUse;
    default:
      return FileError::kOther;
  }
}

}  // namespace

InputFile InputFile::Open(const std::string& path) {
  InputFile file;
  // Readers only: no program may write the file while it is ours, and the open fails while one
  // has it open to write.
  const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    file.error_ = ErrorFromLastError(::GetLastError(), path);
    return file;
  }
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    file.error_ = FileError::kNotAFile;
    return file;
  }
  // The runtime's descriptor owns the handle from here, and closes it.
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    file.error_ = FileError::kOther;
    return file;
  }
  file.fd_ = fd;
  return file;
}

std::uint64_t InputFile::Size() const {
  if (fd_ < 0) return 0;
  const long long size = ::_filelengthi64(fd_);
  return size < 0 ? 0 : static_cast<std::uint64_t>(size);
}

}  // namespace kelvo

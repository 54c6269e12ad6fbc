#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "transfer/input_file.h"

namespace kelvo {

InputFile InputFile::Open(const std::string& path) {
  InputFile file;
  // Readers only: no program may write the file while it is ours, and the open fails while one
  // has it open to write.
  const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return file;
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    return file;
  }
  // The runtime's descriptor owns the handle from here, and closes it.
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
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

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "image/input_file.h"

namespace kelvo {

namespace {

FileError ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return FileError::kNoSuchFile;
    case EISDIR:
      return FileError::kFolder;
    case EACCES:
    case EPERM:
      return FileError::kPermissionDenied;
    default:
      return FileError::kOther;
  }
}

}  // namespace

InputFile InputFile::Open(const std::string& path) {
  InputFile file;
  // Non-blocking only for the open itself: opening a FIFO would otherwise wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    file.error_ = ErrorFromErrno(errno);
    return file;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    file.error_ = ErrorFromErrno(errno);
  } else if (S_ISDIR(info.st_mode)) {
    file.error_ = FileError::kFolder;
  } else if (!S_ISREG(info.st_mode)) {
    file.error_ = FileError::kNotAFile;
  } else if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    // Only a writer's lock keeps the file from us: where locks are not to be had at all (NFS
    // without its lock service), the file is read unlocked.
    file.error_ = FileError::kInUse;
  }
  if (file.error_ != FileError::kNone) {
    ::close(fd);
    return file;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  file.fd_ = fd;
  return file;
}

std::uint64_t InputFile::Size() const {
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

}  // namespace kelvo

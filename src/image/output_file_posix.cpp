#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "image/output_file.h"

namespace kelvo {

std::FILE* OpenOutputFile(const std::string& path, const std::vector<std::string>& keep,
                          std::string& why, OutputMode mode) {
  const bool append = mode == OutputMode::kAppend;
  // Not emptied yet: that waits until the file is known to be one that may be.
  const int fd = ::open(
      path.c_str(),
      O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (append ? O_APPEND : 0), 0666);
  struct stat info {};
  if (fd < 0 && errno == ELOOP) {
    why = path + " is a link: not written";
  } else if (fd < 0 && errno == ENXIO) {  // a FIFO that no one reads
    why = path + " is not a regular file: not written";
  } else if (fd < 0 || ::fstat(fd, &info) != 0) {
    why = path + ": " + std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    why = path + " is not a regular file: not written";
  }
  for (const std::string& kept : keep) {
    struct stat other {};
    if (why.empty() && ::stat(kept.c_str(), &other) == 0 && other.st_dev == info.st_dev &&
        other.st_ino == info.st_ino) {
      why = path + " is the file being sent: not written";
    }
  }
  if (why.empty() && !append && ::ftruncate(fd, 0) != 0) why = path + ": " + std::strerror(errno);
  std::FILE* file = nullptr;
  if (why.empty()) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file = ::fdopen(fd, append ? "a" : "w");
    if (file == nullptr) why = path + ": " + std::strerror(errno);
  }
  if (file == nullptr && fd >= 0) ::close(fd);
  return file;
}

bool AppendWhole(std::FILE* file, std::string_view text) {
  const int fd = ::fileno(file);
  struct stat before {};
  if (::fstat(fd, &before) != 0) return false;
  std::size_t written = 0;
  errno = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  if (written == text.size()) return ::fsync(fd) == 0;
  const int error = errno != 0 ? errno : ENOSPC;
  if (::ftruncate(fd, before.st_size) == 0) ::fsync(fd);
  errno = error;
  return false;
}

}  // namespace kelvo

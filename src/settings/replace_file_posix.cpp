#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "settings/replace_file.h"

namespace kelvo {
namespace {

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes) {
  // A rename needs only the directory's permission; it must not defeat a read-only file.
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) return false;
  // The process id keeps the name apart from any other running Kelvo's; a leftover with the
  // same name belongs to a dead process and is overwritten.
  const std::string temporary = path + "." + std::to_string(::getpid()) + ".tmp";
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  // Flushed before the rename, so that after a crash the name holds either the old or the new
  // bytes, never an empty file.
  bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
}

}  // namespace kelvo

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "settings/replace_file.h"

namespace kelvo {
namespace {

bool WriteAll(int fd, std::span<const std::uint8_t> bytes, off_t offset) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
    offset += n;
  }
  return true;
}

std::vector<std::uint8_t> ReadAll(int fd) {
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[512];
  for (off_t offset = 0;;) {
    const ssize_t n = ::pread(fd, chunk, sizeof chunk, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return bytes;
    bytes.insert(bytes.end(), chunk, chunk + n);
    offset += n;
  }
}

std::string Why(int error) {
  return std::strerror(error);
}

std::string RewriteInPlace(const std::string& path, std::span<const std::uint8_t> bytes) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  std::string made;  // the file this save made, through a link the one it names
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    char* named = fd < 0 ? nullptr : ::realpath(path.c_str(), nullptr);
    made = named != nullptr ? named : path;
    std::free(named);
  }
  if (fd < 0) return Why(errno);
  const std::vector<std::uint8_t> old = ReadAll(fd);
  std::string why;
  if (!WriteAll(fd, bytes, 0) || ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0 ||
      ::fsync(fd) != 0) {
    why = Why(errno);
    WriteAll(fd, old, 0);
    [[maybe_unused]] const int restored = ::ftruncate(fd, static_cast<off_t>(old.size()));
  }
  if (::close(fd) != 0 && why.empty()) why = Why(errno);
  // A file this save made and could not fill would pass for a settings file that says nothing.
  if (!why.empty() && !made.empty()) ::unlink(made.c_str());
  return why;
}

}  // namespace

std::string ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes) {
  // The link stays a link; the file it names takes the bytes. A link to no file yet is written
  // through in place, which makes the file it names.
  char* resolved = ::realpath(path.c_str(), nullptr);
  const bool found = resolved != nullptr;
  const std::string target = found ? resolved : path;
  std::free(resolved);
  struct stat info {};
  const bool exists = ::stat(target.c_str(), &info) == 0;
  // A rename needs only the folder's permission; it must not defeat a read-only file.
  if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return Why(errno);
  struct stat link {};
  if (!found && ::lstat(path.c_str(), &link) == 0) return RewriteInPlace(path, bytes);

  // The process id keeps the name apart from any other running Kelvo's; a leftover with the
  // same name belongs to a dead process and is overwritten.
  const std::string temporary = target + "." + std::to_string(::getpid()) + ".tmp";
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return RewriteInPlace(target, bytes);
  if (exists) {
    ::fchmod(fd, info.st_mode & 07777);
    // Only root may give a file away; anyone else's copy is theirs already.
    [[maybe_unused]] const int owned = ::fchown(fd, info.st_uid, info.st_gid);
  }
  // Flushed before the rename, so that after a crash the name holds either the old or the new
  // bytes, never an empty file.
  std::string why;
  if (!WriteAll(fd, bytes, 0) || ::fsync(fd) != 0) why = Why(errno);
  if (::close(fd) != 0 && why.empty()) why = Why(errno);
  if (why.empty() && ::rename(temporary.c_str(), target.c_str()) == 0) return "";
  if (why.empty()) why = Why(errno);
  ::unlink(temporary.c_str());
  return why;
}

}  // namespace kelvo

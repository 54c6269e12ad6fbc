#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "settings/replace_file.h"
#include "settings/settings_record.h"

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

std::string Why(int error) {
  return std::strerror(error);
}

// Made by this user or by root: anyone else's may lead a save where its maker wants.
bool Trusted(const struct stat& info) {
  return info.st_uid == ::geteuid() || info.st_uid == 0;
}

// The file that path names at the end of its links, each of which must be trusted and lead to
// a file; why not, else "". The folders on the way are taken as they are.
std::string FollowTrustedLinks(std::string path, std::string& file) {
  for (int links = 0;; ++links) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
    if (!Trusted(info)) return "it is a link owned by another user";
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0 || links == 40) return Why(n < 0 ? errno : ELOOP);
    const std::string next(target, static_cast<std::size_t>(n));
    path = next.starts_with('/') || path.find('/') == std::string::npos
               ? next
               : path.substr(0, path.rfind('/') + 1) + next;
    struct stat end {};
    if (::stat(path.c_str(), &end) != 0 && errno == ENOENT) return "it is a link to no file";
  }
  file = path;
  return "";
}

// For a folder that takes no new file: the file's own bytes are overwritten, and put back when
// the new ones cannot all be written. Only a file that a settings record could have filled.
std::string RewriteInPlace(const std::string& path, std::span<const std::uint8_t> bytes) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Why(errno);
  std::uint8_t old[kLongestSettingsRecord + 1];
  ssize_t kept = 0;
  struct stat info {};
  std::string why;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    why = "it is not a regular file";
  } else if ((kept = ::pread(fd, old, sizeof old, 0)) < 0) {
    why = Why(errno);
  } else if (static_cast<std::size_t>(kept) > kLongestSettingsRecord) {
    why = "it holds more than settings";
  } else if (!WriteAll(fd, bytes, 0) || ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0 ||
             ::fsync(fd) != 0) {
    why = Why(errno);
    WriteAll(fd, std::span(old, static_cast<std::size_t>(kept)), 0);
    [[maybe_unused]] const int restored = ::ftruncate(fd, kept);
  }
  if (::close(fd) != 0 && why.empty()) why = Why(errno);
  return why;
}

// A name that no one can guess and make first; the pid would be read off /proc.
std::string TemporaryName(const std::string& file) {
  std::uint8_t random[8] = {};
  if (::getrandom(random, sizeof random, 0) != sizeof random) return "";
  std::string name = file + ".";
  for (const std::uint8_t byte : random) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", byte);
    name += hex;
  }
  return name + ".tmp";
}

// A new file of this user's alone until it holds the bytes; then the mode (and, for root, the
// owner) of the file it replaces, which are checked, as a failed change would leave the file
// open to others or lock its owner out.
std::string FillTemporary(int fd, const struct stat* replaced,
                          std::span<const std::uint8_t> bytes) {
  if (!WriteAll(fd, bytes, 0) || ::fsync(fd) != 0) return Why(errno);
  if (replaced == nullptr) return "";
  const mode_t mode = replaced->st_mode & 07777;
  // Only root may give a file away; anyone else's copy is theirs already.
  const bool give = ::geteuid() == 0;
  if (::fchmod(fd, mode) != 0 || (give && ::fchown(fd, replaced->st_uid, replaced->st_gid) != 0)) {
    return Why(errno);
  }
  struct stat made {};
  if (::fstat(fd, &made) != 0) return Why(errno);
  if ((made.st_mode & 0777) != (mode & 0777) || made.st_nlink != 1 ||
      made.st_uid != (give ? replaced->st_uid : ::geteuid())) {
    return "its copy could not be given the file's mode and owner";
  }
  return "";
}

}  // namespace

std::string ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes) {
  // The link stays a link; the file it names takes the bytes.
  std::string target;
  if (std::string why = FollowTrustedLinks(path, target); !why.empty()) return why;
  struct stat info {};
  const bool exists = ::stat(target.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) return Why(EISDIR);
  if (exists && !S_ISREG(info.st_mode)) return "it is not a regular file";
  // A rename needs only the folder's permission; it must not defeat a read-only file.
  if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return Why(errno);

  std::string temporary;
  int fd = -1;
  for (int tries = 0; fd < 0 && tries < 10; ++tries) {
    temporary = TemporaryName(target);
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    fd = temporary.empty() ? -1 : ::open(temporary.c_str(), flags, exists ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return exists ? RewriteInPlace(target, bytes) : Why(errno);
  // Flushed before the rename, so that after a crash the name holds either the old or the new
  // bytes, never an empty file.
  std::string why = FillTemporary(fd, exists ? &info : nullptr, bytes);
  if (::close(fd) != 0 && why.empty()) why = Why(errno);
  if (why.empty() && ::rename(temporary.c_str(), target.c_str()) == 0) return "";
  if (why.empty()) why = Why(errno);
  ::unlink(temporary.c_str());
  return why;
}

}  // namespace kelvo

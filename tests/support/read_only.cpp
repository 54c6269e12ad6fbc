#include "support/read_only.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kelvo::testing {

namespace fs = std::filesystem;

ReadOnly::ReadOnly(fs::path path)
    : path_(std::move(path)), perms_(fs::status(path_).permissions()) {
  fs::permissions(path_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  immutable_ = SetImmutable(true);
}

ReadOnly::~ReadOnly() {
  if (immutable_) SetImmutable(false);
  fs::permissions(path_, perms_);
}

bool ReadOnly::Holds() const {
  return ::geteuid() != 0 || immutable_;
}

bool ReadOnly::SetImmutable(bool immutable) const {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  int flags = 0;
  bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  if (fd >= 0) ::close(fd);
  return done;
}

}  // namespace kelvo::testing

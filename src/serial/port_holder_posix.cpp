#include "serial/port_holder_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <utility>

#include "serial/shown_text.h"

namespace kelvo {
namespace {

bool IsNumber(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
  }
  return true;
}

// The name is the process's own choice, so its control bytes are shown, not obeyed.
std::string Describe(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string program;
  std::getline(comm, program);
  program = ShownText(program);
  const std::string process = "process " + std::to_string(pid);
  return program.empty() ? process : program + " (" + process + ")";
}

bool IsAlive(pid_t pid) {
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// The owner's process id, as text (the usual form) or as a binary int (older programs). The
// lock folders are open to every user, so only a plain file is read, and only its first bytes:
// a FIFO or a link planted there must not hold the open up or lead elsewhere.
pid_t LockOwner(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return 0;
  char bytes[64];
  struct stat info {};
  ssize_t n = 0;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) n = ::read(fd, bytes, sizeof bytes - 1);
  ::close(fd);
  const std::string content(bytes, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
  const std::size_t digit = content.find_first_not_of(" \t");
  if (digit != std::string::npos && std::isdigit(static_cast<unsigned char>(content[digit]))) {
    return static_cast<pid_t>(std::strtol(content.c_str() + digit, nullptr, 10));
  }
  int binary = 0;
  if (content.size() != sizeof binary) return 0;
  std::memcpy(&binary, content.data(), sizeof binary);
  return binary;
}

// Lock files are named after the device's name within /dev, a '/' in it written as '_'.
std::string LockFileName(const std::string& device) {
  std::string name =
      device.starts_with("/dev/") ? device.substr(5) : device.substr(device.rfind('/') + 1);
  std::replace(name.begin(), name.end(), '/', '_');
  return "LCK.." + name;
}

pid_t LiveLockOwner(const std::string& device, const std::vector<std::string>& lock_folders) {
  std::vector<std::pair<dev_t, ino_t>> read;  // /var/lock is most often a link to /run/lock
  for (const std::string& folder : lock_folders) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) continue;
    if (std::ranges::find(read, std::pair(info.st_dev, info.st_ino)) != read.end()) continue;
    read.emplace_back(info.st_dev, info.st_ino);
    const pid_t owner = LockOwner(folder + "/" + LockFileName(device));
    if (owner != ::getpid() && IsAlive(owner)) return owner;
  }
  return 0;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

bool HasDeviceOpen(const std::string& process, dev_t device) {
  const std::string fds = "/proc/" + process + "/fd";
  const Dir dir(::opendir(fds.c_str()));
  if (!dir) return false;  // gone, or not ours to look into
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string link = fds + "/" + entry->d_name;
    char target[16];
    // Only descriptors of device nodes are worth a stat.
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    if (n < 5 || std::memcmp(target, "/dev/", 5) != 0) continue;
    struct stat info {};
    if (::stat(link.c_str(), &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == device) {
      return true;
    }
  }
  return false;
}

pid_t ProcessWithDeviceOpen(dev_t device) {
  const Dir proc(::opendir("/proc"));
  if (!proc) return 0;
  const std::string self = std::to_string(::getpid());
  while (const dirent* entry = ::readdir(proc.get())) {
    if (!IsNumber(entry->d_name) || entry->d_name == self) continue;
    if (HasDeviceOpen(entry->d_name, device)) return static_cast<pid_t>(std::atoi(entry->d_name));
  }
  return 0;
}

}  // namespace

std::string FindPortHolder(const std::string& device_path,
                           const std::vector<std::string>& lock_folders) {
  // Links such as /dev/serial/by-id/... name the device that the lock files and /proc show.
  char* resolved = ::realpath(device_path.c_str(), nullptr);
  const std::string device = resolved ? resolved : device_path;
  std::free(resolved);
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return "";
  pid_t holder = LiveLockOwner(device, lock_folders);
  if (holder == 0) holder = ProcessWithDeviceOpen(info.st_rdev);
  return holder == 0 ? "" : Describe(holder);
}

}  // namespace kelvo

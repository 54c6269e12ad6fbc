#include "simulator/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace kelvo {

PseudoTerminal::PseudoTerminal() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return;
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    Close();
    return;
  }
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) {
    Close();
    return;
  }
  slave_path_ = name;
  // A new slave echoes and cooks its input; make it raw before any byte crosses it, or the
  // device's replies would come back as the program's own input.
  termios raw{};
  ::tcgetattr(master_, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(master_, TCSANOW, &raw);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal() {
  Close();
}

void PseudoTerminal::Close() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

bool PseudoTerminal::Write(std::span<const std::uint8_t> bytes) {
  std::size_t sent = 0;
  while (master_ >= 0 && sent < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd out{master_, POLLOUT, 0};
      if (::poll(&out, 1, 1000) <= 0) return false;
    } else {
      return false;
    }
  }
  return sent == bytes.size();
}

std::vector<std::uint8_t> PseudoTerminal::ReadAvailable(std::chrono::milliseconds wait) {
  std::vector<std::uint8_t> bytes;
  if (master_ < 0) return bytes;
  pollfd in{master_, POLLIN, 0};
  if (::poll(&in, 1, static_cast<int>(wait.count())) <= 0 || (in.revents & POLLIN) == 0) {
    return bytes;
  }
  std::uint8_t chunk[4096];
  for (;;) {
    const ssize_t n = ::read(master_, chunk, sizeof chunk);
    if (n <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return bytes;
}

std::vector<std::uint8_t> PseudoTerminal::ReadExactly(std::size_t count,
                                                      std::chrono::milliseconds wait) {
  std::vector<std::uint8_t> bytes;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (master_ >= 0 && bytes.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd in{master_, POLLIN, 0};
    if (::poll(&in, 1, static_cast<int>(left.count())) <= 0 || (in.revents & POLLIN) == 0) break;
    std::uint8_t chunk[4096];
    const std::size_t want = std::min(sizeof chunk, count - bytes.size());
    const ssize_t n = ::read(master_, chunk, want);
    if (n <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return bytes;
}

}  // namespace kelvo

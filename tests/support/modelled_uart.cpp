#include "support/modelled_uart.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "serial/protocol.h"

namespace kelvo::testing {

using SteadyClock = std::chrono::steady_clock;

ModelledUart::ModelledUart(Options options) : options_(options), rs485_(options.rs485) {}

ssize_t ModelledUart::Write(int fd, std::span<const std::uint8_t> bytes) {
  const ssize_t n = ::write(fd, bytes.data(), bytes.size());
  if (n <= 0) return n;
  const std::lock_guard lock(mutex_);
  const TimePoint now = SteadyClock::now();
  TimePoint free = departures_.empty() ? now : std::max(now, departures_.back());
  for (ssize_t i = 0; i < n; ++i) {
    written_.push_back(now);
    if (departures_.size() >= options_.stall_after) {
      free = TimePoint::max();
    } else {
      free += kByteTime;
    }
    departures_.push_back(free);
  }
  return n;
}

std::size_t ModelledUart::LeftToSend(TimePoint now) const {
  return static_cast<std::size_t>(std::count_if(departures_.begin(), departures_.end(),
                                                [&](TimePoint at) { return at > now; }));
}

std::size_t ModelledUart::Unsent(int) {
  const std::lock_guard lock(mutex_);
  const std::size_t left = LeftToSend(SteadyClock::now());
  return left > options_.adapter_buffer ? left - options_.adapter_buffer : 0;
}

void ModelledUart::DiscardUnsent(int) {
  const std::lock_guard lock(mutex_);
  const TimePoint now = SteadyClock::now();
  std::erase_if(departures_, [&](TimePoint at) { return at > now; });
  written_.resize(departures_.size());
}

bool ModelledUart::SetRts(int, bool raised) {
  const std::lock_guard lock(mutex_);
  rts_.push_back({SteadyClock::now(), raised});
  return true;
}

bool ModelledUart::GetRs485(int, serial_rs485& config) {
  config = Rs485();  // serial drivers answer this whether or not they can take the mode
  return true;
}

bool ModelledUart::SetRs485(int, const serial_rs485& config) {
  const std::lock_guard lock(mutex_);
  if (!rs485_) {
    errno = ENOTTY;
    return false;
  }
  rs485_ = config;
  return true;
}

bool ModelledUart::SetAfterDrain(int fd, const termios& settings) {
  for (;;) {
    std::unique_lock lock(mutex_);
    const TimePoint now = SteadyClock::now();
    if (LeftToSend(now) == 0) {
      restored_ = now;
      break;
    }
    const TimePoint last = departures_.back();
    lock.unlock();
    std::this_thread::sleep_until(last);
  }
  return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace kelvo::testing

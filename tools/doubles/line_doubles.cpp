#include "doubles/line_doubles.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "serial/protocol.h"

namespace kelvo::testing {
namespace {

constexpr std::size_t kAdapterBuffer = 256;
constexpr std::size_t kAcmWriteBuffer = 1280;
constexpr std::chrono::milliseconds kUsbTransfer{1};

}  // namespace

ssize_t LineDouble::Write(int fd, std::span<const std::uint8_t> bytes) {
  const ssize_t n = ::write(fd, bytes.data(), bytes.size());
  if (n <= 0) return n;
  const std::lock_guard lock(mutex_);
  const TimePoint now = std::chrono::steady_clock::now();
  TimePoint free = departures_.empty() ? now : std::max(now, departures_.back());
  for (ssize_t i = 0; i < n; ++i) {
    if (departures_.size() >= stop_after_) {
      free = TimePoint::max();
    } else {
      free = driver_ == Driver::kCdcAcm ? now + kUsbTransfer : free + kByteTime;
    }
    departures_.push_back(free);
  }
  return n;
}

std::size_t LineDouble::Unsent(int) {
  const std::lock_guard lock(mutex_);
  const TimePoint now = std::chrono::steady_clock::now();
  const auto left = static_cast<std::size_t>(
      std::ranges::count_if(departures_, [&](TimePoint at) { return at > now; }));
  if (driver_ == Driver::kUsbAdapter) return left > kAdapterBuffer ? left - kAdapterBuffer : 0;
  if (driver_ == Driver::kCdcAcm)
    return (left + kAcmWriteBuffer - 1) / kAcmWriteBuffer * kAcmWriteBuffer;
  return left;
}

void LineDouble::DiscardUnsent(int) {
  const std::lock_guard lock(mutex_);
  ++discards_;
  const TimePoint now = std::chrono::steady_clock::now();
  std::erase_if(departures_, [&](TimePoint at) { return at > now && at != TimePoint::max(); });
}

bool LineDouble::SetRts(int, bool raised) {
  const std::lock_guard lock(mutex_);
  rts_.push_back({std::chrono::steady_clock::now(), raised});
  return true;
}

bool LineDouble::GetRs485(int, serial_rs485& config) {
  // The serial core answers this whether or not the port can take the mode; USB drivers do not.
  config = Rs485();
  return driver_ == Driver::kUart16550;
}

bool LineDouble::SetRs485(int, const serial_rs485& config) {
  const std::lock_guard lock(mutex_);
  if (!rs485_) {
    errno = ENOTTY;
    return false;
  }
  rs485_ = config;
  return true;
}

bool LineDouble::Drain(int, TimePoint deadline) {
  std::unique_lock lock(mutex_);
  const TimePoint last = departures_.empty() ? TimePoint{} : departures_.back();
  lock.unlock();
  std::this_thread::sleep_until(std::min(last, deadline));
  return last <= deadline;
}

}  // namespace kelvo::testing

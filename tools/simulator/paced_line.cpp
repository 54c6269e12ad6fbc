#include "simulator/paced_line.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

#include "serial/protocol.h"
#include "simulator/device_faults.h"
#include "simulator/device_protocol.h"
#include "simulator/zarq_simulator.h"

namespace kelvo {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Between seeing a new open and the program's settings taking effect: a few microseconds.
constexpr std::chrono::microseconds kSetUpCheckInterval{100};
// An open wakes the thread by the flush the port makes; a program that sets the line up
// without flushing is looked for this often.
constexpr std::chrono::milliseconds kUnflushedOpenCheckInterval{20};
// A greeting waits a moment before it goes, and a hang-up or a later open in that time takes
// its place, so that each open gets one greeting. A flush may belong to a close (a device
// server flushes, then hangs up); an open seen without a flush may not be set up yet (a device
// server opens the line, then applies its client's settings and purge, whose flush is a second
// open).
constexpr std::chrono::milliseconds kFlushedGreetingDelay{10};
constexpr std::chrono::milliseconds kUnflushedGreetingDelay{50};
// A line that takes no more bytes (nobody reads the other side) is tried again this often.
constexpr std::chrono::milliseconds kBlockedRetryInterval{1};

timespec ToTimespec(std::chrono::nanoseconds ns) {
  return {static_cast<time_t>(ns.count() / 1000000000), static_cast<long>(ns.count() % 1000000000)};
}

// steady_clock is CLOCK_MONOTONIC, so its time points serve as absolute deadlines.
void SleepUntil(SteadyClock::time_point deadline) {
  const timespec at = ToTimespec(deadline.time_since_epoch());
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
  }
}

}  // namespace

PacedLine::PacedLine(const SimulatorOptions& options, DeviceProtocol& protocol,
                     DeviceFaults& faults)
    : paced_(options.paced),
      next_board_pause_(options.next_board_ms < 0
                            ? std::nullopt
                            : std::optional(std::chrono::milliseconds(options.next_board_ms))),
      protocol_(protocol),
      faults_(faults) {
  // Packet mode reports the program's flushes of the line, by which its opens are seen.
  int packet_mode = 1;
  if (!terminal_.IsOpen() || ::ioctl(terminal_.MasterFd(), TIOCPKT, &packet_mode) != 0) {
    terminal_.Close();
    return;
  }
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
  epoll_event wake{EPOLLIN, {}};
  epoll_event line{EPOLLIN | EPOLLET, {}};
  if (wake_fd_ < 0 || epoll_fd_ < 0 ||
      ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &wake) != 0 ||
      ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, terminal_.MasterFd(), &line) != 0) {
    Close();
  }
}

PacedLine::~PacedLine() {
  Close();
}

void PacedLine::Run() {
  while (!stop_.load() && !hung_up_) {
    ReadFromProgram(SteadyClock::now());
    if (hung_up_) break;
    WatchLine(SteadyClock::now());
    const TimePoint now = SteadyClock::now();
    TakeArrivedBytes(now);
    PlaceNextBoard(now);
    SendDueBytes(now);
    if (session_ && outgoing_.empty()) Send(faults_.Babble(), now);
    Wait(SteadyClock::now());
  }
}

void PacedLine::Stop() {
  stop_.store(true);
  if (wake_fd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_fd_, &one, sizeof one);
  }
}

void PacedLine::Close() {
  terminal_.Close();
  for (int* fd : {&wake_fd_, &epoll_fd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

// The master is in packet mode: each read gives either a status byte or 0 and then data.
void PacedLine::ReadFromProgram(TimePoint now) {
  std::uint8_t chunk[4096];
  for (;;) {
    const ssize_t n = ::read(terminal_.MasterFd(), chunk, sizeof chunk);
    if (n <= 0) return;  // nothing more, or nobody on the other side
    if (chunk[0] != TIOCPKT_DATA) {
      // The port flushes its input while it sets the line up, so a flush marks a new open;
      // this sees an open even when the close before it came and went unnoticed.
      if ((chunk[0] & TIOCPKT_FLUSHREAD) != 0) {
        EndSession();
        open_pending_ = true;
        flushed_open_ = true;
      }
      continue;
    }
    // Anything the program sends proves it has read the last reply, which would be lost
    // if the line went down before; once the open is seen, the greeting need not have gone.
    if ((session_ || open_pending_) && faults_.HangUpDue()) {
      HangUp();
      return;
    }
    for (ssize_t i = 1; i < n; ++i) Receive(chunk[i], now);
  }
}

void PacedLine::Receive(std::uint8_t byte, TimePoint now) {
  TimePoint at = now;
  if (paced_) {
    incoming_free_ = std::max(incoming_free_, now) + kByteTime;
    at = incoming_free_;
  }
  incoming_.push_back({byte, at});
}

// A session begins once the program has opened the port and set it to 9600 baud: bytes sent
// before then would be flushed by the set-up. The master sees a hang-up while no one has the
// other side open. A program that sets the line up without flushing (Wine's ports) is seen by
// the speed change alone; since such a program may also leave the speed as it set it when it
// closes, any line at 9600 after a hang-up counts as set up anew. A close and reopen quicker
// than this thread looks needs neither: the session goes on.
void PacedLine::WatchLine(TimePoint now) {
  const int fd = terminal_.MasterFd();
  pollfd line{fd, POLLIN, 0};
  ::poll(&line, 1, 0);
  termios settings{};
  const bool at_loader_speed = ::tcgetattr(fd, &settings) == 0 && ::cfgetospeed(&settings) == B9600;
  const bool set_up_now = at_loader_speed && !was_at_loader_speed_;
  was_at_loader_speed_ = at_loader_speed;
  if ((line.revents & POLLHUP) != 0) {
    EndSession();
    open_pending_ = false;
    flushed_open_ = false;  // the flush of the last close, not of the next open
    was_at_loader_speed_ = false;
    return;
  }
  if (set_up_now) open_pending_ = true;
  if (!open_pending_ || !at_loader_speed) return;
  // The port flushes before its settings take effect, so the flush of this open is reported
  // by now: take it first, or it would later pass for another open.
  ReadFromProgram(now);
  if (!hung_up_) StartSession(now);
}

// While the next board is awaited, the loaded one stays silent.
void PacedLine::StartSession(TimePoint now) {
  EndSession();
  session_ = true;
  open_pending_ = false;
  const std::vector<std::uint8_t> greeting = protocol_.StartSession();
  const TimePoint greet_at =
      now + (std::exchange(flushed_open_, false) ? kFlushedGreetingDelay : kUnflushedGreetingDelay);
  if (!next_board_at_) Send(greeting, greet_at);
}

// A board that comes while no one has the port open greets the next session instead.
void PacedLine::PlaceNextBoard(TimePoint now) {
  if (!next_board_at_ || *next_board_at_ > now) return;
  next_board_at_.reset();
  Send(protocol_.NextBoard(), now);
}

// Frames already on their way are still taken; replies are no longer sent.
void PacedLine::EndSession() {
  session_ = false;
  for (const TimedByte& byte : incoming_) Take(byte);
  incoming_.clear();
  protocol_.DropFrame();
  outgoing_.clear();
  output_blocked_ = false;
}

void PacedLine::HangUp() {
  EndSession();
  hung_up_ = true;
  terminal_.Close();
}

void PacedLine::TakeArrivedBytes(TimePoint now) {
  while (!incoming_.empty() && incoming_.front().at <= now) {
    Take(incoming_.front());
    incoming_.pop_front();
  }
}

void PacedLine::Take(const TimedByte& byte) {
  Send(protocol_.Take(byte.byte), byte.at);
  if (next_board_pause_ && !next_board_at_ && protocol_.BoardLoaded()) {
    next_board_at_ = byte.at + *next_board_pause_;
  }
}

// Queues bytes that leave at once, or on a paced line one byte time after another, starting
// when the frame they answer has fully arrived.
void PacedLine::Send(std::span<const std::uint8_t> bytes, TimePoint at) {
  if (!session_) return;
  for (const std::uint8_t byte : bytes) {
    if (paced_) {
      outgoing_free_ = std::max(outgoing_free_, at) + kByteTime;
      outgoing_.push_back({byte, outgoing_free_});
    } else {
      outgoing_.push_back({byte, at});
    }
  }
}

// All bytes that are due go out in one write.
void PacedLine::SendDueBytes(TimePoint now) {
  burst_.clear();
  for (const TimedByte& byte : outgoing_) {
    if (byte.at > now) break;
    burst_.push_back(byte.byte);
  }
  if (burst_.empty()) return;
  const ssize_t n = ::write(terminal_.MasterFd(), burst_.data(), burst_.size());
  if (n < 0 && errno != EAGAIN && errno != EINTR) {
    outgoing_.clear();
    return;
  }
  const auto sent = static_cast<std::size_t>(std::max<ssize_t>(n, 0));
  outgoing_.erase(outgoing_.begin(), outgoing_.begin() + static_cast<std::ptrdiff_t>(sent));
  output_blocked_ = sent < burst_.size();
}

// Sleeps until a byte is due, the line changes or Stop is called. The master is watched edge-
// triggered: every change wakes the thread once (a hang-up too, which a level-triggered poll
// would report without end), and the next open wakes it by its flush.
void PacedLine::Wait(TimePoint now) {
  if (stop_.load() || hung_up_) return;
  if (!outgoing_.empty()) {
    SleepUntil(output_blocked_ ? now + kBlockedRetryInterval : outgoing_.front().at);
    return;
  }
  if (open_pending_) {
    SleepUntil(now + kSetUpCheckInterval);
    return;
  }
  std::optional<std::chrono::nanoseconds> timeout;  // none: until something happens
  const auto wake_at = [&](TimePoint at) {
    const std::chrono::nanoseconds until = std::max(std::chrono::nanoseconds::zero(), at - now);
    timeout = timeout ? std::min(*timeout, until) : until;
  };
  if (!session_) timeout = kUnflushedOpenCheckInterval;
  if (!incoming_.empty()) wake_at(incoming_.front().at);
  if (next_board_at_) wake_at(*next_board_at_);
  const timespec limit = ToTimespec(timeout.value_or(std::chrono::nanoseconds::zero()));
  epoll_event events[2];
  ::epoll_pwait2(epoll_fd_, events, 2, timeout ? &limit : nullptr, nullptr);
}

}  // namespace kelvo

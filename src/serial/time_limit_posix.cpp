#include "serial/time_limit_posix.h"

#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace kelvo {
namespace {

// A real-time signal that nothing else in the program uses. Its handler does nothing: it is sent
// only to interrupt a call, and it is installed without SA_RESTART so that the call returns.
int InterruptSignal() {
  static const int signal = [] {
    const int number = SIGRTMIN + 3;
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    return ::sigaction(number, &action, nullptr) == 0 ? number : 0;
  }();
  return signal;
}

timespec Timespec(std::chrono::nanoseconds ns) {
  return {static_cast<time_t>(ns.count() / 1000000000), static_cast<long>(ns.count() % 1000000000)};
}

}  // namespace

int CallBefore(std::chrono::steady_clock::time_point deadline, const std::function<int()>& call) {
  const int signal = InterruptSignal();
  sigevent event{};
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = signal;
  event._sigev_un._tid = ::gettid();  // sigev_notify_thread_id, which this glibc does not name
  timer_t timer{};
  if (signal == 0 || ::timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) return call();
  // steady_clock is CLOCK_MONOTONIC. The timer fires again every 5 ms after the deadline, in
  // case the first signal came between the deadline and the call's start.
  itimerspec when{};
  when.it_value = Timespec(deadline.time_since_epoch());
  when.it_interval = Timespec(std::chrono::milliseconds(5));
  ::timer_settime(timer, TIMER_ABSTIME, &when, nullptr);
  int result = 0;
  do {
    result = call();
  } while (result == -1 && errno == EINTR && std::chrono::steady_clock::now() < deadline);
  const int error = errno;
  ::timer_delete(timer);
  errno = error;
  return result;
}

Readiness WaitReady(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return Readiness::kTimedOut;
    const timespec timeout = Timespec(left);
    pollfd poll_fd{fd, events, 0};
    const int ready = ::ppoll(&poll_fd, 1, &timeout, nullptr);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (poll_fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      return Readiness::kGone;
    }
    if (ready == 0) return Readiness::kTimedOut;
    return (poll_fd.revents & events) != 0 ? Readiness::kReady : Readiness::kGone;
  }
}

}  // namespace kelvo

#pragma once

#include <chrono>
#include <functional>

namespace kelvo {

// Runs a blocking system call that has no time limit of its own (tcdrain) and interrupts it at
// the deadline: the call then fails with EINTR. Returns the call's result.
int CallBefore(std::chrono::steady_clock::time_point deadline, const std::function<int()>& call);

enum class Readiness { kReady, kTimedOut, kGone };

// Waits until the descriptor is ready for events (poll's), or the deadline passes; kGone when
// the other end has hung up or the descriptor failed.
Readiness WaitReady(int fd, short events, std::chrono::steady_clock::time_point deadline);

}  // namespace kelvo

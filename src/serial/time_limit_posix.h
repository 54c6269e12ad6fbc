#pragma once

#include <chrono>
#include <functional>

namespace kelvo {

// Runs a blocking system call that has no time limit of its own (tcdrain) and interrupts it at
// the deadline: the call then fails with EINTR. Returns the call's result.
int CallBefore(std::chrono::steady_clock::time_point deadline, const std::function<int()>& call);

}  // namespace kelvo

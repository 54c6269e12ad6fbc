#pragma once

#include <atomic>
#include <cstdint>

#include "serial/clock.h"

namespace kelvo {

// What the thread that owns a form shares with the transfers it starts. The window holds the
// program's one set; tests and the command line make their own.
struct SharedState {
  Clock clock;                                  // TickCount and Delay
  std::atomic<std::uint32_t> HaltRequested{0};  // set by Halt, cleared when a transfer starts
  std::atomic<std::uint16_t> ResponseDelay{0};  // ms between sending a block and reading its reply
};

}  // namespace kelvo

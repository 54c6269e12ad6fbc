#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "transfer/shared_state.h"

namespace kelvo::cli {

enum class HaltCause : int { kNone, kSignal, kTimeout };

// Halts the transfers as the window's Halt button does: on Ctrl-C or SIGTERM (Ctrl-Break on
// Windows), and after timeout_ms of the tick clock when given. Every transfer is halted at
// once; their clocks are expected to keep one time. Made before the transfers start, so a
// transfer that starts after a halt was asked for must ask it again (Cause()). A second signal
// ends the program at once with status 130. One at a time; the previous handling comes back
// when it goes.
class HaltRequests {
 public:
  HaltRequests(const std::vector<SharedState*>& transfers, std::optional<std::uint32_t> timeout_ms);
  ~HaltRequests();
  HaltRequests(const HaltRequests&) = delete;
  HaltRequests& operator=(const HaltRequests&) = delete;

  // What asked for the halt first, if anything did.
  HaltCause Cause() const;

 private:
  void WatchTimeout(std::uint32_t timeout_ms);

  Clock& clock_;
  std::vector<std::atomic<std::uint32_t>*> flags_;
  std::atomic<bool> stop_{false};
  std::thread timer_;
};

}  // namespace kelvo::cli

#include "serial/ticker.h"

#include <chrono>

namespace kelvo {

Ticker::Ticker(Clock& clock) : clock_(clock) {
  thread_ = std::thread([this] {
    auto next = std::chrono::steady_clock::now();
    while (!stop_.load()) {
      next += std::chrono::milliseconds(Clock::kTickMs);
      std::this_thread::sleep_until(next);
      clock_.Tick();
    }
  });
}

Ticker::~Ticker() {
  stop_.store(true);
  thread_.join();
}

}  // namespace kelvo

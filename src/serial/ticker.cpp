#include "serial/ticker.h"

#include <chrono>
#include <utility>

namespace kelvo {

Ticker::Ticker(std::vector<Clock*> clocks) : clocks_(std::move(clocks)) {
  thread_ = std::thread([this] {
    auto next = std::chrono::steady_clock::now();
    while (!stop_.load()) {
      next += std::chrono::milliseconds(Clock::kTickMs);
      std::this_thread::sleep_until(next);
      for (Clock* clock : clocks_) clock->Tick();
    }
  });
}

Ticker::~Ticker() {
  stop_.store(true);
  thread_.join();
}

}  // namespace kelvo

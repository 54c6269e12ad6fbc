#include "support/fast_ticker.h"

namespace kelvo::testing {

FastTicker::FastTicker(Clock& clock) : clock_(clock) {
  thread_ = std::thread([this] {
    while (!stop_.load()) {
      if (clock_.AwaitSleeper(std::chrono::milliseconds(5))) clock_.Tick();
    }
  });
}

FastTicker::~FastTicker() {
  stop_.store(true);
  thread_.join();
}

}  // namespace kelvo::testing

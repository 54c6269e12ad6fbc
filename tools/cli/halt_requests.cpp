#include "halt_requests.h"

#include "exit_status.h"
#include "halt_signals.h"

namespace kelvo::cli {
namespace {

// A signal handler reaches only these; the atomics are lock-free, so touching them there is
// safe. The flags are set up before the handler is installed and stay until it is released.
std::atomic<std::uint32_t>* const* halt_flags = nullptr;
std::size_t halt_flag_count = 0;
std::atomic<int> halt_cause{static_cast<int>(HaltCause::kNone)};
std::atomic<int> signals_seen{0};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

void RequestHalt(HaltCause cause) {
  int none = static_cast<int>(HaltCause::kNone);
  halt_cause.compare_exchange_strong(none, static_cast<int>(cause));
  for (std::size_t i = 0; i < halt_flag_count; ++i) halt_flags[i]->store(1);
}

// The operator who asks twice wants the program ended now.
void OnSignal() {
  if (signals_seen.fetch_add(1) > 0) EndAtOnce(kExitSignal);
  RequestHalt(HaltCause::kSignal);
}

}  // namespace

HaltRequests::HaltRequests(const std::vector<SharedState*>& transfers,
                           std::optional<std::uint32_t> timeout_ms)
    : clock_(transfers.front()->clock) {
  for (SharedState* shared : transfers) flags_.push_back(&shared->HaltRequested);
  halt_flags = flags_.data();
  halt_flag_count = flags_.size();
  halt_cause.store(static_cast<int>(HaltCause::kNone));
  signals_seen.store(0);
  CatchHaltSignals(OnSignal);
  if (timeout_ms) timer_ = std::thread([this, ms = *timeout_ms] { WatchTimeout(ms); });
}

HaltRequests::~HaltRequests() {
  stop_.store(true);
  if (timer_.joinable()) timer_.join();
  ReleaseHaltSignals();
  halt_flag_count = 0;
}

HaltCause HaltRequests::Cause() const {
  return static_cast<HaltCause>(halt_cause.load());
}

// Counts on the transfer's own clock, a tick at a time, so that it also notices the end.
void HaltRequests::WatchTimeout(std::uint32_t timeout_ms) {
  const std::uint32_t start = clock_.TickCount();
  while (!stop_.load()) {
    if (clock_.TickCount() - start >= timeout_ms) {
      RequestHalt(HaltCause::kTimeout);
      return;
    }
    clock_.Delay(Clock::kTickMs);
  }
}

}  // namespace kelvo::cli

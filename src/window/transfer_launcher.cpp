#include "window/transfer_launcher.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace kelvo {

struct TransferLauncher::Run {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  TransferResult result;
};

TransferLauncher::TransferLauncher(std::shared_ptr<ControlPointers> form,
                                   std::shared_ptr<SharedState> shared)
    : form_(std::move(form)),
      shared_(std::move(shared)),
      busy_(std::make_shared<std::atomic<bool>>(false)) {}

bool TransferLauncher::Start() {
  // Claimed before the worker exists, so a second click before the worker has disabled Start
  // finds the launcher busy.
  bool idle = false;
  if (!busy_->compare_exchange_strong(idle, true)) return false;
  const TransferKind kind = ChooseTransfer(form_->ReadText(Control::FileEdit));
  auto run = std::make_shared<Run>();
  last_run_ = run;
  std::thread([kind, form = form_, shared = shared_, run, busy = busy_] {
    LowerThisThreadPriority();
    // Idle again before Start shows enabled, so that no click on it is lost.
    const TransferResult result =
        RunTransfer(kind, *form, *shared, {.before_start_enabled = [&] { busy->store(false); }});
    {
      std::lock_guard lock(run->mutex);
      run->result = result;
      run->done = true;
    }
    run->ended.notify_all();
  }).detach();
  return true;
}

void TransferLauncher::Halt() {
  shared_->HaltRequested.store(1);
}

bool TransferLauncher::Busy() const {
  return busy_->load();
}

TransferResult TransferLauncher::Wait() {
  if (!last_run_) return {};
  std::unique_lock lock(last_run_->mutex);
  last_run_->ended.wait(lock, [&] { return last_run_->done; });
  return last_run_->result;
}

}  // namespace kelvo

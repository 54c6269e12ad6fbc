#pragma once

#include <atomic>
#include <memory>

#include "transfer/control_pointers.h"
#include "transfer/run_transfer.h"
#include "transfer/shared_state.h"

namespace kelvo {

// Start and Halt: runs one transfer at a time on a worker thread of its own at the lowest
// priority. Workers keep the form and the shared state alive, so the launcher may go away while
// one runs.
class TransferLauncher {
 public:
  TransferLauncher(std::shared_ptr<ControlPointers> form, std::shared_ptr<SharedState> shared);

  // Reads FileEdit, picks the body and starts it; does nothing while a transfer is starting or
  // running, and works again as soon as the transfer has enabled Start. True when it started
  // one.
  bool Start();
  void Halt();
  bool Busy() const;

  // Waits for the transfer started last and returns how it ended. Not for a window thread,
  // which never waits for a worker.
  TransferResult Wait();

 private:
  struct Run;
  std::shared_ptr<ControlPointers> form_;
  std::shared_ptr<SharedState> shared_;
  std::shared_ptr<Run> last_run_;
  std::shared_ptr<std::atomic<bool>> busy_;
};

// Lowers the calling thread to the lowest scheduling priority.
void LowerThisThreadPriority();

}  // namespace kelvo

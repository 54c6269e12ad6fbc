#include "transfer/run_script.h"

namespace kelvo {

TransferOutcome RunScript(TransferContext&) {
  return TransferOutcome::kComplete;
}

}  // namespace kelvo

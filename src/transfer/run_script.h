#pragma once

#include "transfer/transfer_context.h"

namespace kelvo {

// Plays the open script file to the open port.
TransferOutcome RunScript(TransferContext& context);

}  // namespace kelvo

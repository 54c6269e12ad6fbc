#pragma once

#include "transfer/transfer_context.h"

namespace kelvo {

// Loads the open image file into the device on the open port.
TransferOutcome UploadImage(TransferContext& context);

}  // namespace kelvo

#pragma once

#include "transfer/image_source.h"
#include "transfer/transfer_context.h"

namespace kelvo {

// Loads the image into the device on the open port.
TransferOutcome UploadImage(TransferContext& context, ImageSource& image);

}  // namespace kelvo

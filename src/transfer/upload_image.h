#pragma once

#include <cstdint>
#include <span>

#include "transfer/transfer_context.h"

namespace kelvo {

// Loads the image into the device on the open port.
TransferOutcome UploadImage(TransferContext& context, std::span<const std::uint8_t> image);

}  // namespace kelvo

#pragma once

#include <string>

#include "serial/serial_port.h"
#include "transfer/control_pointers.h"
#include "transfer/shared_state.h"
#include "transfer/transfer_context.h"

namespace kelvo {

enum class TransferKind { kUploadImage, kRunScript };

// A script is a file whose extension is ".scr" in any letter case; anything else is an image.
TransferKind ChooseTransfer(const std::string& file_path);

struct TransferResult {
  TransferOutcome outcome = TransferOutcome::kFailed;
  PortError port_error = PortError::kNone;  // why the port did not open, when it did not
};

// One whole transfer on the calling thread: the preamble (buttons, log header, response delay,
// the form's texts, port and file), the body, and the closing. tap, if given, sees the port's
// traffic.
TransferResult RunTransfer(TransferKind kind, ControlPointers& form, SharedState& shared,
                           PortTap* tap = nullptr);

}  // namespace kelvo

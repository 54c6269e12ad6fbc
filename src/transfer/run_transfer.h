#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
  std::string port_failure;                 // the same in a sentence for the operator
};

// What a caller may add to a transfer; each may stay empty.
struct TransferHooks {
  PortTap* tap = nullptr;        // sees the port's traffic
  LineDriver* driver = nullptr;  // the calls on the port; none: the system's own
  // The upload's image decoded already, sent in place of reading and decoding the file again
  // (which is still opened and locked): many transfers of one file decode it once.
  const std::vector<std::uint8_t>* image = nullptr;
  // Runs as the transfer starts, once it has cleared any Halt left from an earlier one: a Halt
  // asked for before the start, which that clear erased, can be asked again here.
  std::function<void()> after_halt_cleared{};
  // Runs once the transfer is over, just before Start is enabled again.
  std::function<void()> before_start_enabled{};
  HandshakeWatch handshake{};
};

// One whole transfer on the calling thread: the preamble (buttons, log header, response delay,
// the form's texts, port and file), the body, and the closing.
TransferResult RunTransfer(TransferKind kind, ControlPointers& form, SharedState& shared,
                           const TransferHooks& hooks = {});

}  // namespace kelvo

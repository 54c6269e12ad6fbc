#pragma once

#include <string>

#include "image/input_file.h"
#include "serial/serial_port.h"
#include "transfer/control_pointers.h"
#include "transfer/shared_state.h"

namespace kelvo {

// How a transfer ended: kComplete when the upload reached EOT or the script played to its end
// with no SEND line refused.
enum class TransferOutcome { kComplete, kFailed, kHalted };

// What a transfer body works with: the form, the shared values, the open port and file, and the
// texts the preamble read from the form, exactly as typed.
struct TransferContext {
  ControlPointers& form;
  SharedState& shared;
  SerialPort& port;
  InputFile& file;
  std::string DeviceType;
  std::string PortName;
  std::string FilePath;
  std::string StartAddress;

  bool HaltRequested() const { return shared.HaltRequested.load() != 0; }
};

}  // namespace kelvo

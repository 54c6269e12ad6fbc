#pragma once

#include <functional>
#include <string>

#include "image/input_file.h"
#include "serial/serial_port.h"
#include "transfer/control_pointers.h"
#include "transfer/shared_state.h"

namespace kelvo {

// How a transfer ended: kComplete when the upload reached EOT or the script played to its end
// with no SEND line refused.
enum class TransferOutcome { kComplete, kFailed, kHalted };

// How an upload meets its device; the defaults suit a device that the operator has just set up.
struct HandshakeWatch {
  // A production line's wait for its next device: the tries that get no answer are not logged.
  bool quiet = false;
  // Runs once the device has answered with the loader's NAK.
  std::function<void()> answered{};
};

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
  const HandshakeWatch& handshake;

  bool HaltRequested() const { return shared.HaltRequested.load() != 0; }
};

}  // namespace kelvo

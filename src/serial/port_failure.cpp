#include "serial/serial_port.h"

namespace kelvo {

std::string PortFailureCause(PortError error, const std::string& name, const std::string& holder) {
  const std::string device = DevicePathFor(name);
  const std::string port = device == name ? name : name + " (" + device + ")";
  switch (error) {
    case PortError::kNone:
      return "";
    case PortError::kNoSuchPort:
      return "no such port: " + port;
    case PortError::kInUse:
      return device + " is in use by " + (holder.empty() ? "another program" : holder);
    case PortError::kPermissionDenied:
      return "permission denied on " + device +
             ": add your user to the dialout group (sudo usermod -aG dialout $USER) and log in "
             "again";
    case PortError::kNotASerialPort:
      return port + " is not a serial port";
    case PortError::kOther:
      break;
  }
  return "port " + port + " could not be opened or set up for 9600 baud";
}

}  // namespace kelvo

#include "serial/network_port.h"
#include "serial/serial_port.h"

namespace kelvo {

std::string PortFailureCause(PortError error, const std::string& name, const std::string& detail) {
  const std::string device = DevicePathFor(name);
  const std::string port = device == name ? name : name + " (" + device + ")";
  switch (error) {
    case PortError::kNone:
      return "";
    case PortError::kNoSuchPort:
      return "no such port: " + port;
    case PortError::kNoUart:
      return "no UART answers at " + device;
    case PortError::kInUse:
      return device + " is in use by " + (detail.empty() ? "another program" : detail);
    case PortError::kPermissionDenied: {
      const std::string group = detail.empty() ? "dialout" : detail;
      return "permission denied on " + device + ": add your user to the " + group +
             " group (sudo usermod -aG " + group + " $USER) and log in again";
    }
    case PortError::kNotASerialPort:
      return port + " is not a serial port";
    case PortError::kNoConnection: {
      const auto address = ParseNetworkPortName(name);
      if (!address)
        return name + " is no network port: name one tcp://HOST:PORT or rfc2217://HOST:PORT";
      return "no connection to " + address->host + " port " + address->port + ": " + detail;
    }
    case PortError::kOther:
      break;
  }
  return "port " + port + " could not be opened or set up for 9600 baud";
}

}  // namespace kelvo

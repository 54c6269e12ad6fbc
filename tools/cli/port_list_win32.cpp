#include <windows.h>
// windows.h first: the device headers build on it.
#include <initguid.h>
// initguid.h first: it makes devguid.h define the GUIDs rather than only declare them.
#include <devguid.h>
#include <setupapi.h>

#include <map>

#include "port_list.h"
#include "serial/serial_port.h"

namespace kelvo::cli {

const char kPortExamples[] = "COM1 or COM12";
const char kPortNamesText[] =
    "Port names: COMn opens \\\\.\\COMn, so COM10 and above work too; a name beginning\n"
    "with \\\\.\\ is used as typed. See --list-ports. A port that another program has\n"
    "open is refused.";

namespace {

std::string RegistryText(HKEY key, const char* name) {
  char text[256] = {};
  DWORD size = sizeof text - 1;
  DWORD type = 0;
  if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return "";
  }
  return text;
}

// The names that device manager shows ("USB Serial Port (COM5)"), by port name.
std::map<std::string, std::string> FriendlyNames() {
  std::map<std::string, std::string> names;
  const HDEVINFO devices =
      ::SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return names;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
    const HKEY key =
        ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    const std::string port = RegistryText(key, "PortName");
    ::RegCloseKey(key);
    char friendly[256] = {};
    if (!port.empty() && ::SetupDiGetDeviceRegistryPropertyA(
                             devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                             reinterpret_cast<BYTE*>(friendly), sizeof friendly - 1, nullptr)) {
      names[port] = friendly;
    }
  }
  ::SetupDiDestroyDeviceInfoList(devices);
  return names;
}

}  // namespace

// Every serial port's driver enters its port name in this map while the port is present.
std::vector<SerialPortEntry> ListSerialPorts() {
  std::vector<SerialPortEntry> ports;
  HKEY map = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &map) !=
      ERROR_SUCCESS) {
    return ports;
  }
  const std::map<std::string, std::string> friendly = FriendlyNames();
  for (DWORD i = 0;; ++i) {
    char value_name[256];
    DWORD value_name_size = sizeof value_name;
    char port[256] = {};
    DWORD port_size = sizeof port - 1;
    DWORD type = 0;
    if (::RegEnumValueA(map, i, value_name, &value_name_size, nullptr, &type,
                        reinterpret_cast<BYTE*>(port), &port_size) != ERROR_SUCCESS) {
      break;
    }
    if (type != REG_SZ) continue;
    const auto found = friendly.find(port);
    ports.push_back({port, DevicePathFor(port), found == friendly.end() ? "" : found->second});
  }
  ::RegCloseKey(map);
  SortNaturally(ports);
  return ports;
}

}  // namespace kelvo::cli

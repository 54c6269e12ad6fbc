#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kelvo::cli {

struct SerialPortEntry {
  std::string name;         // what --port and the window take: COM1, USB0, ACM0, ...
  std::string device_path;  // the device it opens, e.g. /dev/ttyS0
  std::string description;  // for USB adapters: maker, product, USB id and serial number
};

// The serial ports present, as the kernel lists them in class_dir (/sys/class/tty on a live
// system), in natural order. Consoles, pseudo-terminals and the legacy ttyS entries that have
// no UART behind them are left out.
std::vector<SerialPortEntry> ListSerialPorts(
    const std::filesystem::path& class_dir = "/sys/class/tty");

// One aligned line per port, or a line saying that there are none.
std::string FormatPortList(const std::vector<SerialPortEntry>& ports);

}  // namespace kelvo::cli

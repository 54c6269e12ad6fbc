#pragma once

#include <string>
#include <vector>

namespace kelvo::cli {

struct SerialPortEntry {
  std::string name;         // what --port and the window take: COM1, USB0, ACM0, ...
  std::string device_path;  // the device it opens, e.g. /dev/ttyS0 or \\.\COM1
  std::string description;  // what the system says of the port: a USB adapter's maker and
                            // product, or Windows' friendly name
};

// The serial ports present, in natural order (COM2 before COM10).
std::vector<SerialPortEntry> ListSerialPorts();

// Sorts by device path, numbers by their value: ttyS2 before ttyS10.
void SortNaturally(std::vector<SerialPortEntry>& ports);

// One aligned line per port, or a line saying that there are none.
std::string FormatPortList(const std::vector<SerialPortEntry>& ports);

// How --help explains the port names of this system, and gives examples of them.
extern const char kPortNamesText[];
extern const char kPortExamples[];

}  // namespace kelvo::cli

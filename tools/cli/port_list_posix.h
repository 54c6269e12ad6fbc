#pragma once

#include <filesystem>

#include "port_list.h"

namespace kelvo::cli {

// The serial ports as the kernel lists them in class_dir (/sys/class/tty on a live system).
// Consoles, pseudo-terminals and the legacy ttyS entries that have no UART behind them are
// left out.
std::vector<SerialPortEntry> ListSerialPortsIn(const std::filesystem::path& class_dir);

}  // namespace kelvo::cli

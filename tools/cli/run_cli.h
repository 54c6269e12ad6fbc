#pragma once

#include "command_line.h"

namespace kelvo::cli {

// Lists the ports, or runs one transfer as the options ask; returns the exit status.
int RunCli(const CliOptions& options);

}  // namespace kelvo::cli

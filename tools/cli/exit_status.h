#pragma once

namespace kelvo::cli {

// What kelvo-cli returns, for scripts and production lines that act on it.
enum ExitStatus : int {
  kExitComplete = 0,    // the upload reached "Sending EOT", or the script played to its end
                        // with no SEND line refused
  kExitFailed = 1,      // the transfer ended any other way
  kExitUsage = 2,       // the command line could not be used
  kExitTimedOut = 124,  // halted by --timeout (the number timeout(1) uses)
  kExitSignal = 130,    // halted by Ctrl-C or SIGTERM (128 + SIGINT, as shells report it)
};

}  // namespace kelvo::cli

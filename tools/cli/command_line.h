#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvo::cli {

// What the operator asked for. The form's texts are kept exactly as typed; those not given
// come from the settings file or the window's defaults.
struct CliOptions {
  std::vector<std::string> ports;  // each gets the same transfer at once; none: the settings file's
  std::optional<std::string> address;
  std::optional<std::string> device;
  std::optional<std::string> delay;
  std::optional<std::uint32_t> timeout_seconds;
  std::optional<std::string> trace_path;
  bool repeat = false;                        // load device after device on each port
  std::optional<std::uint32_t> device_count;  // with repeat: stop after this many per port
  std::optional<std::string> record_path;
  int simulate = 0;  // simulated devices to run against instead of ports
  bool instant = false;
  bool list_ports = false;
  std::string file;
};

// Options to run with, or the status to exit with at once (after --help, --version or a usage
// error, whose message has then been printed).
struct CommandLine {
  std::optional<CliOptions> options;
  int exit_status = 0;
};

CommandLine ParseCommandLine(int argc, const char* const* argv);

}  // namespace kelvo::cli

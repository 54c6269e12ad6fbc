#include "command_line.h"

#include <CLI/CLI.hpp>

#include "exit_status.h"
#include "halt_signals.h"
#include "port_list.h"
#include "same_port.h"
#include "simulated_device.h"
#include "transfer/run_transfer.h"

namespace kelvo::cli {
namespace {

constexpr char kDescription[] =
    "Loads a firmware image into a ZARQ device over a serial port, or plays a script of bytes\n"
    "to it (a FILE ending in .scr), exactly as the Kelvo window's Start button does.";

std::string Footer() {
  return std::string(
             "Defaults for --port, --address, --device and --delay come from KELVO.DAT in the\n"
             "current directory when it is there (the window writes it on Quit), else they are\n"
             "COM1, 0x2000, \"ZARQ 40 - 580\" and 0. kelvo-cli never writes KELVO.DAT, and names\n"
             "on standard error the values it takes from it.\n") +
         kPortNamesText +
         "\n\n"
         "Network ports: rfc2217://HOST:PORT is Telnet with COM Port Control (RFC 2217), which\n"
         "sets the far line to 9600 8N1; tcp://HOST:PORT is raw TCP, with the server's settings.\n\n"
         "Response delay: 100 ms for a 9600-baud UART or a USB serial adapter, 0 for a\n"
         "device with native USB, 200 ms for the simulator or a USB bridge in CDC mode.\n\n" +
         kSimulateText +
         "\n\n"
         "--trace writes one line per burst of bytes: milliseconds since the start, \"->\" for\n"
         "bytes to the device or \"<-\" for bytes from it, then the bytes in hex.\n\n"
         "Several ports (--port USB0,USB1 or --port repeated, or --simulate N) each get the\n"
         "whole transfer at once; a device that fails stops none of the others. Each log line\n"
         "then begins with its port's name, --trace writes one file per port (trace-USB0.txt),\n"
         "and a table of the ports' outcomes ends the run.\n\n"
         "Production mode: --repeat loads device after device on each port: once an upload\n"
         "ends, the port waits for the next device's NAK, until Ctrl-C or --count devices.\n"
         "--record appends a line of JSON per device to FILE, on the disk before the next\n"
         "device starts: time (UTC, the transfer's end), port, file, size, sha256 (of the\n"
         "file's bytes, as sha256sum gives it), outcome, blocks, errors, seconds, version.\n\n"
         "Hints go to standard error, never into the log: a response delay that looks too\n"
         "low, a device that does not answer, a script's last line that will not play.\n\n"
         "Exit status: 0 upload complete (EOT sent) or script played with no SEND line\n"
         "refused, on every port (and for every device); 1 a transfer failed; 2 usage error (a "
         "port named twice\n"
         "by any name, a --delay or --timeout that is not a whole number); 124 halted by\n"
         "--timeout; 130 halted by " +
         kHaltSignalsText + ".\nA second one ends the program at once.";
}

// "--simulate" takes an optional count, so the parser gives it the word after it: when that is
// no number it is the FILE.
int SimulatedDeviceCount(const std::optional<std::string>& text, std::string& file) {
  constexpr int kMostDevices = 64;
  if (!text || text->empty()) return 1;
  if (text->find_first_not_of("0123456789") != std::string::npos) {
    if (!file.empty()) throw CLI::ValidationError("--simulate", "takes a count, not " + *text);
    file = *text;
    return 1;
  }
  const int count = text->size() > 2 ? kMostDevices + 1 : std::stoi(*text);
  if (count < 1 || count > kMostDevices) {
    throw CLI::ValidationError(
        "--simulate", "takes from 1 to " + std::to_string(kMostDevices) + " devices, not " + *text);
  }
  return count;
}

// Digits only: the form would read "abc" as 0 and "-5" as 65531, and a fraction of a second is
// no use to a halt that comes at a tick.
CLI::Validator WholeNumber(unsigned long least, unsigned long most) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        const bool digits = !text.empty() && text.size() <= 9 &&
                            text.find_first_not_of("0123456789") == std::string::npos;
        if (digits && std::stoul(text) >= least && std::stoul(text) <= most) return "";
        return "takes a whole number from " + std::to_string(least) + " to " +
               std::to_string(most) + ", not \"" + text + "\"";
      },
      "");
}

// Two transfers on one line would garble each other's blocks.
void RefuseRepeatedPorts(const std::vector<std::string>& ports) {
  for (std::size_t i = 0; i < ports.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (SamePort(ports[i], ports[j])) {
        throw CLI::ValidationError(
            "--port", ports[j] == ports[i] ? ports[i] + " is named twice"
                                           : ports[j] + " and " + ports[i] + " are the same port");
      }
    }
  }
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CliOptions options;
  CLI::App app{kDescription, "kelvo-cli"};
  app.footer(Footer());
  app.get_formatter()->column_width(34);
  app.set_version_flag("--version", std::string("kelvo-cli ") + KELVO_VERSION);

  auto* file = app.add_option(
      "FILE", options.file, "image (*.bin, *.hex, *.srec, *.s19, *.s28, *.s37) or script (*.scr)");
  auto* port = app.add_option("--port", options.ports,
                              std::string("serial port, e.g. ") + kPortExamples +
                                  "; repeat it or list several, split by commas, to load them all "
                                  "at once")
                   ->delimiter(',')
                   ->allow_extra_args(false);
  app.add_option("--address", options.address, "start address text, e.g. 0x2000");
  app.add_option("--device", options.device, "device type text, e.g. ZARQX or \"ZARQ 40 - 580\"");
  app.add_option("--delay", options.delay, "response delay in milliseconds, 0 to 65535")
      ->type_name("MS")
      ->check(WholeNumber(0, 65535));
  app.add_option("--timeout", options.timeout_seconds, "halt the transfer after SECONDS, 1 or more")
      ->type_name("SECONDS")
      ->check(WholeNumber(1, 1000000));
  app.add_option("--trace", options.trace_path, "record every byte crossing the port in FILE")
      ->type_name("FILE");
  auto* repeat = app.add_flag("--repeat", options.repeat,
                              "after each upload, wait for the next device on the same port "
                              "and load it, until Ctrl-C");
  app.add_option("--count", options.device_count, "with --repeat, stop after N devices a port")
      ->type_name("N")
      ->check(WholeNumber(1, 1000000))
      ->needs(repeat);
  app.add_option("--record", options.record_path,
                 "append a line of JSON per device to FILE (see below)")
      ->type_name("FILE");
  std::optional<std::string> simulate_count;
  auto* simulate = app.add_option("--simulate", simulate_count,
                                  "use N simulated devices (1 when not given) on 9600-baud lines "
                                  "instead of ports")
                       ->expected(0, 1)
                       ->type_name("[N]")
                       ->excludes(port);
  app.add_flag("--instant", options.instant, "no baud-rate pacing on the simulated line")
      ->needs(simulate);
  app.add_flag("--list-ports", options.list_ports,
               "list the serial ports present, by the names Kelvo accepts")
      ->excludes(file)
      ->excludes(simulate);

  try {
    app.parse(argc, argv);
    if (simulate->count() > 0)
      options.simulate = SimulatedDeviceCount(simulate_count, options.file);
    if (!options.list_ports && options.file.empty()) throw CLI::RequiredError("FILE");
    RefuseRepeatedPorts(options.ports);
    if (options.repeat && ChooseTransfer(options.file) == TransferKind::kRunScript) {
      throw CLI::ValidationError("--repeat", "loads images, not a script");
    }
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return {std::nullopt, status == 0 ? kExitComplete : kExitUsage};
  }
  return {options, kExitComplete};
}

}  // namespace kelvo::cli

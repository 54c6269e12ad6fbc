#include "run_cli.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "console_form.h"
#include "exit_status.h"
#include "halt_requests.h"
#include "image_check.h"
#include "port_list.h"
#include "serial/ticker.h"
#include "settings/settings_file.h"
#include "simulated_device.h"
#include "terminal.h"
#include "trace_file.h"
#include "transfer/image_file.h"
#include "transfer/transfer_frame.h"

namespace kelvo::cli {
namespace {

// The simulated line is paced at 9600 baud, but as a pseudo-terminal its writes return before
// the packet has left: the delay covers the packet's time as well as the reply's.
constexpr char kPacedSimulationDelay[] = "200";

// The form as Start would find it: the settings file's values (or the window's defaults), then
// what the command line gives.
void FillForm(ControlPointers& form, SharedState& shared, const CliOptions& options,
              const SimulatedDevice* device) {
  LoadSettings(form, shared.ResponseDelay);
  form.SetText(Control::FileEdit, options.file);
  if (device) form.SetText(Control::PortCombo, device->PortName());
  if (options.port) form.SetText(Control::PortCombo, *options.port);
  if (options.address) form.SetText(Control::StartAddressCombo, *options.address);
  if (options.device) form.SetText(Control::DeviceTypeCombo, *options.device);
  if (options.delay) {
    form.SetText(Control::ResponseDelayEdit, *options.delay);
  } else if (device && !options.instant) {
    form.SetText(Control::ResponseDelayEdit, kPacedSimulationDelay);
  }
}

bool ReportSimulatedMemory(const SimulatedDevice& device, const std::string& image_path) {
  const ImageResult read = ReadImageFile(image_path);
  if (!read.Ok()) {
    std::printf("Simulated device: memory not checked, the image could not be read\n");
    std::fflush(stdout);
    return false;
  }
  const ImageCheck check = CheckImageInMemory(device.Memory(), read.image);
  std::printf("%s\n", check.message.c_str());
  std::fflush(stdout);
  return check.holds_image;
}

int ExitStatusFor(TransferOutcome outcome, HaltCause cause) {
  switch (outcome) {
    case TransferOutcome::kComplete:
      return kExitComplete;
    case TransferOutcome::kHalted:
      return cause == HaltCause::kTimeout ? kExitTimedOut : kExitSignal;
    case TransferOutcome::kFailed:
      break;
  }
  return kExitFailed;
}

}  // namespace

int RunCli(const CliOptions& options) {
  if (options.list_ports) {
    std::fputs(FormatPortList(ListSerialPorts()).c_str(), stdout);
    return kExitComplete;
  }

  std::unique_ptr<SimulatedDevice> device;
  if (options.simulate) {
    std::string why;
    device = StartSimulatedDevice(!options.instant, why);
    if (!device) {
      std::fprintf(stderr, "kelvo-cli: %s\n", why.c_str());
      return kExitFailed;
    }
  }

  std::unique_ptr<TraceFile> trace;
  if (options.trace_path) {
    std::string error;
    trace = TraceFile::Create(*options.trace_path, error);
    if (!trace) {
      std::fprintf(stderr, "kelvo-cli: cannot write the trace file %s: %s\n",
                   options.trace_path->c_str(), error.c_str());
      return kExitUsage;
    }
  }

  SharedState shared;
  ConsoleForm form(stdout, IsLiveTerminal(stderr) ? stderr : nullptr);
  FillForm(form, shared, options, device.get());
  std::optional<std::uint32_t> timeout_ms;
  if (options.timeout_seconds) {
    timeout_ms = static_cast<std::uint32_t>(std::ceil(*options.timeout_seconds * 1000));
  }

  const TransferKind kind = ChooseTransfer(options.file);
  TransferResult result;
  HaltCause cause = HaltCause::kNone;
  {
    Ticker ticker(shared.clock);
    HaltRequests halts(shared, timeout_ms);
    result = RunTransfer(kind, form, shared, {.tap = trace.get()});
    cause = halts.Cause();
  }
  form.ClearProgress();

  if (result.port_error != PortError::kNone) {
    const char* hint = result.port_error == PortError::kNoSuchPort
                           ? "; kelvo-cli --list-ports shows the ports present"
                           : "";
    std::fprintf(stderr, "kelvo-cli: %s%s\n", result.port_failure.c_str(), hint);
  }
  int status = ExitStatusFor(result.outcome, cause);
  // A complete upload that left the wrong bytes behind is a failure, not a success.
  if (device && kind == TransferKind::kUploadImage &&
      !ReportSimulatedMemory(*device, options.file) && status == kExitComplete) {
    status = kExitFailed;
  }
  return status;
}

}  // namespace kelvo::cli

#include "port_transfer.h"

#include <cstdlib>
#include <utility>

#include "image/input_file.h"
#include "settings/settings_file.h"

namespace kelvo::cli {
namespace {

// The simulated line is paced at 9600 baud, but as a pseudo-terminal its writes return before
// the packet has left: the delay covers the packet's time as well as the reply's.
constexpr char kPacedSimulationDelay[] = "200";

// An option's value as a shell takes it back.
std::string Quoted(const std::string& text) {
  return text.empty() || text.find(' ') != std::string::npos ? '"' + text + '"' : text;
}

// The form as Start would find it: the settings file's values (or the window's defaults), then
// what the command line gives. Returns the settings file's values that stay, as the options
// that would give them ("--port COM3 --delay 100"); empty without the file.
std::string FillForm(ControlPointers& form, SharedState& shared, const CliOptions& options,
                     const PortJob& job) {
  LoadSettings(form, shared.ResponseDelay);
  form.SetText(Control::FileEdit, options.file);
  std::string kept;
  const auto fill = [&](Control field, const char* option, const std::optional<std::string>& text) {
    if (text) {
      form.SetText(field, *text);
    } else {
      if (!kept.empty()) kept += ' ';
      kept.append(option).append(" ").append(Quoted(form.ReadText(field)));
    }
  };
  fill(Control::PortCombo, "--port", job.device ? job.device->PortName() : job.port);
  fill(Control::StartAddressCombo, "--address", options.address);
  fill(Control::DeviceTypeCombo, "--device", options.device);
  std::optional<std::string> delay = options.delay;
  if (!delay && job.device && !options.instant) delay = kPacedSimulationDelay;
  fill(Control::ResponseDelayEdit, "--delay", delay);
  return InputFile::Open(kSettingsFileName).IsOpen() ? kept : "";
}

}  // namespace

PortTransfer::PortTransfer(const CliOptions& options, ConsoleBoard& board, std::size_t row,
                           PortJob job, SharedState& shared)
    : job_(std::move(job)),
      shared_(shared),
      form_(board, row, job_.label),
      kind_(ChooseTransfer(options.file)),
      repeat_(options.repeat),
      device_count_(options.device_count.value_or(0)) {
  from_settings_file_ = FillForm(form_, shared_, options, job_);
}

PortTransfer::~PortTransfer() {
  Join();
}

void PortTransfer::Start(const std::vector<std::uint8_t>* image, const HaltRequests& halts,
                         const RecordSink& record) {
  worker_ = std::thread([this, image, &halts, &record] {
    const auto halt_again = [&] {
      if (halts.Cause() != HaltCause::kNone) shared_.HaltRequested.store(1);
    };
    for (std::uint32_t device = 1;; ++device) {
      bool answered = false;
      // The record's time is the device's own, not the wait for the operator to fit it.
      auto start = std::chrono::steady_clock::now();
      const auto answer = [&] {
        answered = true;
        start = std::chrono::steady_clock::now();
        form_.DeviceAnswered();
      };
      if (device > 1) form_.AwaitDevice(device);
      result_ = RunTransfer(kind_, form_, shared_,
                            {.tap = job_.trace.get(),
                             .image = image,
                             .after_halt_cleared = halt_again,
                             .handshake = {.quiet = device > 1, .answered = answer}});
      elapsed_ = std::chrono::steady_clock::now() - start;
      if (device > 1 && !answered) return;  // no device came: nothing to record
      if (record && !record(DeviceRecordNow())) {
        earlier_fault_ = true;
        return;
      }
      if (!repeat_ || !answered || device == device_count_ ||
          result_.outcome == TransferOutcome::kHalted) {
        return;
      }
      earlier_fault_ = earlier_fault_ || result_.outcome == TransferOutcome::kFailed;
    }
  });
}

// The transfer just ended, for --record.
DeviceRecord PortTransfer::DeviceRecordNow() {
  const auto number = [&](Control field) { return std::atol(form_.ReadText(field).c_str()); };
  DeviceRecord record;
  record.end = std::chrono::system_clock::now();
  record.port = form_.ReadText(Control::PortCombo);
  record.file = form_.ReadText(Control::FileEdit);
  record.outcome = result_.outcome;
  record.blocks = number(Control::BlockField);
  record.errors = number(Control::ErrorsField);
  record.seconds = std::chrono::duration<double>(elapsed_).count();
  return record;
}

void PortTransfer::Join() {
  if (worker_.joinable()) worker_.join();
}

}  // namespace kelvo::cli

#include "port_transfer.h"

#include <utility>

#include "settings/settings_file.h"

namespace kelvo::cli {
namespace {

// The simulated line is paced at 9600 baud, but as a pseudo-terminal its writes return before
// the packet has left: the delay covers the packet's time as well as the reply's.
constexpr char kPacedSimulationDelay[] = "200";

// The form as Start would find it: the settings file's values (or the window's defaults), then
// what the command line gives.
void FillForm(ControlPointers& form, SharedState& shared, const CliOptions& options,
              const PortJob& job) {
  LoadSettings(form, shared.ResponseDelay);
  form.SetText(Control::FileEdit, options.file);
  if (job.device) form.SetText(Control::PortCombo, job.device->PortName());
  if (job.port) form.SetText(Control::PortCombo, *job.port);
  if (options.address) form.SetText(Control::StartAddressCombo, *options.address);
  if (options.device) form.SetText(Control::DeviceTypeCombo, *options.device);
  if (options.delay) {
    form.SetText(Control::ResponseDelayEdit, *options.delay);
  } else if (job.device && !options.instant) {
    form.SetText(Control::ResponseDelayEdit, kPacedSimulationDelay);
  }
}

}  // namespace

PortTransfer::PortTransfer(const CliOptions& options, ConsoleBoard& board, std::size_t row,
                           PortJob job, SharedState& shared)
    : job_(std::move(job)),
      shared_(shared),
      form_(board, row, job_.label),
      kind_(ChooseTransfer(options.file)) {
  FillForm(form_, shared_, options, job_);
}

PortTransfer::~PortTransfer() {
  Join();
}

void PortTransfer::Start(const std::vector<std::uint8_t>* image, const HaltRequests& halts) {
  worker_ = std::thread([this, image, &halts] {
    const auto start = std::chrono::steady_clock::now();
    const auto halt_again = [&] {
      if (halts.Cause() != HaltCause::kNone) shared_.HaltRequested.store(1);
    };
    result_ =
        RunTransfer(kind_, form_, shared_,
                    {.tap = job_.trace.get(), .image = image, .after_halt_cleared = halt_again});
    elapsed_ = std::chrono::steady_clock::now() - start;
  });
}

void PortTransfer::Join() {
  if (worker_.joinable()) worker_.join();
}

}  // namespace kelvo::cli

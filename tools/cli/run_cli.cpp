#include "run_cli.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "console_board.h"
#include "device_record.h"
#include "exit_status.h"
#include "halt_requests.h"
#include "image/image_file.h"
#include "image_check.h"
#include "port_list.h"
#include "port_transfer.h"
#include "script_tail.h"
#include "serial/ticker.h"
#include "settings/settings_file.h"
#include "sha256.h"
#include "simulated_device.h"
#include "summary_table.h"
#include "terminal.h"
#include "trace_file.h"
#include "transfer/run_transfer.h"

namespace kelvo::cli {
namespace {

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

// A halt speaks for the whole run; short of one, any failure does.
int Worse(int status, int other) {
  const auto rank = [](int s) { return s == kExitComplete ? 0 : s == kExitFailed ? 1 : 2; };
  return rank(other) > rank(status) ? other : status;
}

const char* OutcomeWord(int status) {
  return status == kExitComplete ? "complete" : status == kExitFailed ? "failed" : "halted";
}

// Each port's log lines begin with its name, padded so that the lines' texts align.
std::vector<std::string> Labels(const std::vector<std::string>& names) {
  if (names.size() < 2) return std::vector<std::string>(names.size());
  std::size_t width = 0;
  for (const std::string& name : names) width = std::max(width, name.size());
  std::vector<std::string> labels;
  for (const std::string& name : names)
    labels.push_back(name + ":" + std::string(width - name.size() + 1, ' '));
  return labels;
}

// As many as Jobs makes.
std::size_t PortCount(const CliOptions& options) {
  if (options.simulate > 0) return static_cast<std::size_t>(options.simulate);
  return std::max<std::size_t>(options.ports.size(), 1);
}

// The jobs of the run, one per port; a simulated device is named by its number, as its
// pseudo-terminal's name says nothing to the operator. Empty, with the status set, when the
// run cannot start.
std::vector<PortJob> Jobs(const CliOptions& options,
                          const std::vector<std::unique_ptr<SimulatedDevice>>& devices,
                          std::vector<std::string>& names, int& status) {
  std::vector<PortJob> jobs;
  if (!devices.empty()) {
    for (std::size_t i = 0; i < devices.size(); ++i) {
      names.push_back("sim" + std::to_string(i + 1));
      jobs.emplace_back().device = devices[i].get();
    }
  } else if (options.ports.empty()) {
    names.emplace_back();
    jobs.emplace_back();
  } else {
    for (const std::string& port : options.ports) {
      names.push_back(port);
      jobs.emplace_back().port = port;
    }
  }
  const std::vector<std::string> labels = Labels(names);
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    jobs[i].label = labels[i];
    if (!options.trace_path) continue;
    const std::string path =
        jobs.size() > 1 ? TracePathFor(*options.trace_path, names[i]) : *options.trace_path;
    std::string why;
    jobs[i].trace = TraceFile::Create(path, options.file, why);
    if (!jobs[i].trace) {
      std::fprintf(stderr, "kelvo-cli: --trace %s\n", why.c_str());
      status = kExitUsage;
      return {};
    }
  }
  return jobs;
}

// What the settings file gave, and a script's last line that will not play: the operator
// would otherwise not know, since neither shows in the log.
void NoteWhatTheLogLeavesOut(ConsoleBoard& board, const CliOptions& options,
                             const PortTransfer& transfer) {
  if (!transfer.FromSettingsFile().empty()) {
    board.Note(std::string("kelvo-cli: taken from ./") + kSettingsFileName + ": " +
               transfer.FromSettingsFile() + "\n");
  }
  if (transfer.Kind() != TransferKind::kRunScript) return;
  if (const std::string line = UnplayedLastLine(options.file); !line.empty()) {
    board.Note("kelvo-cli: " + options.file +
               ": the last line has no line feed, so it is not played: " + line + "\n");
  }
}

}  // namespace

int RunCli(const CliOptions& options) {
  if (options.list_ports) {
    std::fputs(FormatPortList(ListSerialPorts()).c_str(), stdout);
    return kExitComplete;
  }

  // Halts are caught before anything starts, so that a Ctrl-C while the devices start or the
  // traces open still halts every port rather than ending the program.
  std::vector<SharedState> shared(PortCount(options));
  std::vector<SharedState*> shared_states;
  std::vector<Clock*> clocks;
  for (SharedState& state : shared) {
    shared_states.push_back(&state);
    clocks.push_back(&state.clock);
  }
  std::optional<std::uint32_t> timeout_ms;
  if (options.timeout_seconds) timeout_ms = *options.timeout_seconds * 1000;
  const Ticker ticker(clocks);
  const HaltRequests halts(shared_states, timeout_ms);

  std::vector<std::unique_ptr<SimulatedDevice>> devices;
  for (int i = 0; i < options.simulate; ++i) {
    std::string why;
    devices.push_back(StartSimulatedDevice(!options.instant, why));
    if (!devices.back()) {
      std::fprintf(stderr, "kelvo-cli: %s\n", why.c_str());
      return kExitFailed;
    }
  }

  std::vector<std::string> names;
  int status = kExitComplete;
  std::vector<PortJob> jobs = Jobs(options, devices, names, status);
  if (jobs.empty()) return status;

  std::unique_ptr<RecordFile> record_file;
  if (options.record_path) {
    std::string why;
    record_file = RecordFile::Open(*options.record_path, options.file, why);
    if (!record_file) {
      std::fprintf(stderr, "kelvo-cli: --record %s\n", why.c_str());
      return kExitUsage;
    }
  }

  ConsoleBoard board(stdout, stderr, IsLiveTerminal(stderr), jobs.size());
  std::vector<std::unique_ptr<PortTransfer>> transfers;
  for (PortJob& job : jobs) {
    const std::size_t row = transfers.size();
    transfers.push_back(
        std::make_unique<PortTransfer>(options, board, row, std::move(job), shared.at(row)));
  }

  // Read once: decoded for every port, and the bytes' digest for the record. A file that will
  // not decode is left to each transfer, which logs why.
  const bool upload = transfers.front()->Kind() == TransferKind::kUploadImage;
  std::vector<std::uint8_t> bytes;
  const ImageResult image =
      upload || record_file ? ReadImageFile(options.file, &bytes) : ImageResult{};
  const std::string digest = record_file && !bytes.empty() ? Sha256Hex(bytes) : "";
  NoteWhatTheLogLeavesOut(board, options, *transfers.front());

  RecordSink record;
  if (record_file) {
    record = [&](DeviceRecord device) {
      device.size = bytes.size();
      device.sha256 = digest;
      std::string why;
      if (record_file->Append(RecordLine(device, KELVO_VERSION), why)) return true;
      board.Note("kelvo-cli: --record " + why + "\n");
      return false;
    };
  }
  const std::vector<std::uint8_t>* sent = upload && image.Ok() ? &image.image : nullptr;
  for (auto& transfer : transfers) transfer->Start(sent, halts, record);
  for (auto& transfer : transfers) transfer->Join();
  const HaltCause cause = halts.Cause();
  board.ClearRows();

  const bool check_memory = upload && !devices.empty();
  std::vector<SummaryRow> summary;
  for (std::size_t i = 0; i < transfers.size(); ++i) {
    PortTransfer& transfer = *transfers[i];
    const TransferResult& result = transfer.Result();
    const std::string& label = transfer.Job().label;
    if (result.port_error != PortError::kNone) {
      const char* hint = result.port_error == PortError::kNoSuchPort
                             ? "; kelvo-cli --list-ports shows the ports present"
                             : "";
      std::fprintf(stderr, "kelvo-cli: %s%s%s\n", label.c_str(), result.port_failure.c_str(), hint);
    }
    int port_status = ExitStatusFor(result.outcome, cause);
    if (transfer.EarlierFault()) port_status = Worse(port_status, kExitFailed);
    // A complete upload that left the wrong bytes behind is a failure, not a success.
    if (check_memory) {
      const ImageCheck check =
          image.Ok()
              ? CheckImageInMemory(devices[i]->Memory(), image.image)
              : ImageCheck{false,
                           "Simulated device: memory not checked, the image could not be read"};
      std::printf("%s%s\n", label.c_str(), check.message.c_str());
      if (!check.holds_image) port_status = Worse(port_status, kExitFailed);
    }
    status = Worse(status, port_status);
    summary.push_back({names[i], OutcomeWord(port_status), transfer.FieldText(Control::BlockField),
                       transfer.FieldText(Control::ErrorsField), transfer.Elapsed()});
  }
  if (transfers.size() > 1) std::printf("\n%s", FormatSummary(summary).c_str());
  std::fflush(stdout);
  return status;
}

}  // namespace kelvo::cli

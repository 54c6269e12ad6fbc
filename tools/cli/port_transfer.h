#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "console_board.h"
#include "console_form.h"
#include "device_record.h"
#include "halt_requests.h"
#include "simulated_device.h"
#include "trace_file.h"
#include "transfer/run_transfer.h"

namespace kelvo::cli {

// What sets one port's transfer apart from the others of the run.
struct PortJob {
  std::string label;                // leads its log lines; empty when it runs alone
  std::optional<std::string> port;  // none: the settings file's port
  const SimulatedDevice* device = nullptr;
  std::unique_ptr<TraceFile> trace;
};

// Keeps a device's record; false when it could not be kept, which ends the port's run.
using RecordSink = std::function<bool(DeviceRecord)>;

// One port's transfer, exactly as the window's Start runs it, on a shared state of its own
// (which the caller holds and whose clock it drives), with its own form and worker thread. With
// --repeat, one transfer per device, each awaiting its device quietly: the run ends at Ctrl-C,
// after the count of devices, or once a transfer ends with no device having answered, which a
// new one would only repeat at once.
class PortTransfer {
 public:
  PortTransfer(const CliOptions& options, ConsoleBoard& board, std::size_t row, PortJob job,
               SharedState& shared);
  ~PortTransfer();
  PortTransfer(const PortTransfer&) = delete;
  PortTransfer& operator=(const PortTransfer&) = delete;

  const PortJob& Job() const { return job_; }
  TransferKind Kind() const { return kind_; }
  // The values taken from the settings file, as options: "--address 0x2000 --delay 100".
  const std::string& FromSettingsFile() const { return from_settings_file_; }

  // image: the upload's image decoded already, if it is. A halt asked for before the transfer
  // clears its flag at its start is asked again then. record, if set, gets each device's
  // record before the next device starts.
  void Start(const std::vector<std::uint8_t>* image, const HaltRequests& halts,
             const RecordSink& record);
  void Join();

  // Once joined, of the last transfer (with --repeat, a wait that no device ended is one):
  const TransferResult& Result() const { return result_; }
  // Whether an earlier device failed or a record could not be kept.
  bool EarlierFault() const { return earlier_fault_; }
  std::chrono::steady_clock::duration Elapsed() const { return elapsed_; }
  std::string FieldText(Control field) { return form_.ReadText(field); }

 private:
  DeviceRecord DeviceRecordNow();

  PortJob job_;
  SharedState& shared_;
  ConsoleForm form_;
  const TransferKind kind_;
  const bool repeat_;
  const std::uint32_t device_count_;  // 0: no end but a halt
  std::string from_settings_file_;
  TransferResult result_;
  bool earlier_fault_ = false;
  std::chrono::steady_clock::duration elapsed_{};
  std::thread worker_;
};

}  // namespace kelvo::cli

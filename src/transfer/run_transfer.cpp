#include "transfer/run_transfer.h"

#include <ctime>
#include <utility>
#include <vector>

#include "image/file_extension.h"
#include "image/image_file.h"
#include "image/input_file.h"
#include "image/printf_text.h"
#include "transfer/response_delay.h"
#include "transfer/run_script.h"
#include "transfer/time_lines.h"
#include "transfer/upload_image.h"

namespace kelvo {

TransferKind ChooseTransfer(const std::string& file_path) {
  return LowerCaseExtension(file_path) == ".scr" ? TransferKind::kRunScript
                                                 : TransferKind::kUploadImage;
}

namespace {

// A file of records is decoded whole before anything is sent, so that a malformed one leaves the
// device as it was.
TransferOutcome Upload(TransferContext& context, std::vector<std::uint8_t> bytes) {
  const ImageResult read = DecodeImage(std::move(bytes), ImageFormatOf(context.FilePath));
  if (!read.Ok()) {
    const std::string where = read.line == 0 ? "" : Printf(" line %zu", read.line);
    context.form.LogLine(context.FilePath + where + ": " + read.error + ". Aborting Programming");
    return TransferOutcome::kFailed;
  }
  return UploadImage(context, read.image);
}

}  // namespace

TransferResult RunTransfer(TransferKind kind, ControlPointers& form, SharedState& shared,
                           const TransferHooks& hooks) {
  form.EnableButton(Control::StartButton, false);
  form.EnableButton(Control::HaltButton, true);
  shared.HaltRequested.store(0);
  if (hooks.after_halt_cleared) hooks.after_halt_cleared();
  form.SetText(Control::LogEdit, "Starting");
  form.LogNewLine();
  const std::time_t start = std::time(nullptr);
  form.LogLine(TimeLine(start));

  const std::string delay_text = form.ReadText(Control::ResponseDelayEdit);
  const std::uint16_t delay = ResponseDelayFromText(delay_text);
  shared.ResponseDelay.store(delay);
  if (delay != 0) form.LogLine("Response Delay set to " + delay_text + " ms");

  const std::string device_type = form.ReadText(Control::DeviceTypeCombo);
  const std::string port_name = form.ReadText(Control::PortCombo);
  const std::string file_path = form.ReadText(Control::FileEdit);
  const std::string start_address = form.ReadText(Control::StartAddressCombo);

  TransferResult result;
  form.LogAppend("Opening Port " + port_name + " . . . ");
  SerialPort port =
      hooks.driver ? OpenLoaderPort(port_name, *hooks.driver) : OpenLoaderPort(port_name);
  if (!port.IsOpen()) {
    form.LogLine("Failed");
    // "Failed" alone leaves the operator guessing between a typing error, a missing
    // permission and another program on the line.
    form.LogLine(port.FailureCause());
    result.port_error = port.Error();
    result.port_failure = port.FailureCause();
  } else {
    form.LogLine("Opened");
    port.SetTap(hooks.tap);
    form.LogAppend("Opening File " + file_path + " . . . ");
    InputFile file = InputFile::Open(file_path);
    std::string cause = FileFailureCause(file.Error(), file_path);
    std::vector<std::uint8_t> bytes;
    if (cause.empty() && kind == TransferKind::kUploadImage && !hooks.image) {
      cause = ReadWholeFile(file, file_path, bytes);
    }
    if (!cause.empty()) {
      form.LogLine("Failed");
      form.LogLine(cause);
    } else {
      form.LogLine("Opened");
      TransferContext context{form,      shared,    port,          file,           device_type,
                              port_name, file_path, start_address, hooks.handshake};
      result.outcome = kind == TransferKind::kRunScript ? RunScript(context)
                       : hooks.image                    ? UploadImage(context, *hooks.image)
                                                        : Upload(context, std::move(bytes));
    }
    file.Close();
    form.LogLine("Closing Port");
    if (kind == TransferKind::kUploadImage) {
      const std::time_t end = std::time(nullptr);
      form.LogLine(TimeLine(end));
      form.LogLine(ElapsedLine(end - start));
    }
    port.Close();
  }
  // Halt goes first: a Start clicked as soon as the button shows enabled begins a transfer
  // whose Halt this one must not disable.
  form.EnableButton(Control::HaltButton, false);
  if (hooks.before_start_enabled) hooks.before_start_enabled();
  form.EnableButton(Control::StartButton, true);
  return result;
}

}  // namespace kelvo

#include "transfer/run_script.h"

#include "transfer/script_line.h"

namespace kelvo {

namespace {

// The device gets no other pacing between two bursts.
constexpr std::uint32_t kLinePauseMs = 100;

}  // namespace

bool ReadScriptLine(InputFile& file, std::string& line) {
  line.clear();
  if (!file.IsOpen()) return false;
  std::uint8_t byte = 0;
  do {
    if (file.Read({&byte, 1}) != 1) return false;
    if (IsScriptByte(byte)) line.push_back(static_cast<char>(byte));
  } while (byte != '\n');
  return true;
}

bool SendScriptLine(TransferContext& context, std::string_view line) {
  const SendLineBytes parsed = ParseSendLine(line);
  if (parsed.named == 0) {
    context.form.LogLine("No data found in " + std::string(line));
    return true;
  }
  if (parsed.TooMany()) {
    context.form.LogLine("Too many bytes (" + std::to_string(parsed.named) + ", at most " +
                         std::to_string(SendLineBytes::kCapacity) + ") in " + std::string(line));
    return false;
  }
  context.form.LogLine("Sending Data " + std::string(line));
  const std::span<const std::uint8_t> bytes = parsed.Bytes();
  if (context.port.Write(bytes) != bytes.size()) context.form.LogLine("Error!");
  context.shared.clock.Delay(kLinePauseMs);
  return true;
}

TransferOutcome RunScript(TransferContext& context) {
  std::string line;
  bool refused = false;
  while (ReadScriptLine(context.file, line)) {
    // Only between lines, so that a burst and the pause after it are never cut short.
    if (context.HaltRequested()) return TransferOutcome::kHalted;
    const std::string_view text = WithoutLeadingBlanks(line);
    if (IsMessageLine(text)) {
      context.form.LogLine(std::string(MessageText(text)));
    } else if (IsSendLine(text)) {
      // The rest still plays, but the device has not had the whole script.
      refused = !SendScriptLine(context, text) || refused;
    }
  }
  // A failed read ends the playback as quietly as the end of the file, but is no success.
  return context.file.Failed() || refused ? TransferOutcome::kFailed : TransferOutcome::kComplete;
}

}  // namespace kelvo

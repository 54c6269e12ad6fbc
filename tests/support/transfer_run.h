#pragma once

// What the transfer, command-line and fuzz tests share: a transfer run from the form, image
// patterns, and the log and the device's frames cut down to what they compare.
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "doubles/fast_ticker.h"
#include "doubles/watched_form.h"
#include "image/printf_text.h"
#include "serial/protocol.h"
#include "simulator/zarq_simulator.h"
#include "transfer/run_transfer.h"

namespace kelvo::testing {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

// Image bytes that never make a blank block.
inline Bytes Pattern(std::size_t size) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i)
    image[i] = static_cast<std::uint8_t>((i * 7 + i / 251) % 253);
  return image;
}

// The image with the blocks from first to last (counted from 1) blank.
inline Bytes Blank(Bytes image, std::size_t first, std::size_t last) {
  std::fill(image.begin() + static_cast<std::ptrdiff_t>((first - 1) * kBlockSize),
            image.begin() + static_cast<std::ptrdiff_t>(last * kBlockSize), 0xFF);
  return image;
}

// The lines as the log holds them.
inline std::string Text(std::initializer_list<Lines> parts) {
  std::string text;
  for (const Lines& part : parts)
    for (const std::string& line : part) text += line + "\r\n";
  return text;
}

// What the body wrote: after the file line, before "Closing Port".
inline std::string Body(const std::string& log) {
  const std::size_t start = log.find("\r\n", log.find("Opening File ")) + 2;
  return log.substr(start, log.rfind("Closing Port\r\n") - start);
}

// The clock's time and the elapsed time, which change from run to run, as "T".
inline std::string WithTimesMasked(const std::string& log) {
  return std::regex_replace(
      log, std::regex("(Time: )\\d\\d:\\d\\d:\\d\\d|(Elapsed: )\\d\\d:\\d\\d"), "$1$2T");
}

// The frames the device received, one short text each: "A 2008" and "E 4000" for commands,
// "#5" for a packet (the number on the wire), "EOT"; " refused" when not answered with ACK.
inline Lines Wire(const std::vector<ReceivedFrame>& frames) {
  using Kind = ReceivedFrame::Kind;
  Lines wire;
  for (const ReceivedFrame& f : frames)
    wire.push_back((f.kind == Kind::kCommand
                        ? Printf("%c %04X", f.bytes[1], f.bytes[3] | f.bytes[4] << 8)
                    : f.kind == Kind::kPacket ? Printf("#%d", f.bytes[1])
                    : f.kind == Kind::kEot    ? "EOT"
                                              : "?") +
                   (f.accepted ? "" : " refused"));
  return wire;
}

// A transfer from the form, its waits ticked through as fast as they come (see FastTicker).
struct TransferRun {
  TransferOutcome Run(TransferKind kind, const std::string& port, const std::string& file,
                      const TransferHooks& hooks = {}, FastTicker::Phase phase = {}) {
    form.SetText(Control::PortCombo, port);
    form.SetText(Control::FileEdit, file);
    FastTicker ticker(shared.clock, std::move(phase));
    return RunTransfer(kind, form, shared, hooks).outcome;
  }
  WatchedForm form;
  SharedState shared;
};

}  // namespace kelvo::testing

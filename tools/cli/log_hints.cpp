#include "log_hints.h"

namespace kelvo::cli {
namespace {

constexpr int kShortRepliesForHint = 5;
constexpr int kUnansweredForHint = 3;
constexpr std::string_view kShortReply = "Incomplete Response from ZARQ (Block ";
constexpr std::string_view kUnanswered = "Waiting for Initial NAK . . . no response";

}  // namespace

std::string LogHints::After(std::string_view line) {
  if (line == kUnanswered && ++unanswered_ == kUnansweredForHint) {
    return "no answer to 3 handshakes: check that the device has power, that the cable is "
           "plugged in at both ends, and that the device is in its loader";
  }
  if (!line.starts_with(kShortReply)) return "";
  const std::string_view block =
      line.substr(kShortReply.size(), line.find(',') - kShortReply.size());
  short_replies_ = block == short_block_ ? short_replies_ + 1 : 1;
  short_block_ = block;
  if (short_replies_ < kShortRepliesForHint || delay_told_) return "";
  delay_told_ = true;
  return "5 short replies in a row to one block: the response delay may be too low for the "
         "line; --delay 100 suits a 9600-baud UART or USB serial adapter, 0 a device with native "
         "USB, 200 the simulator or a USB bridge in CDC mode";
}

}  // namespace kelvo::cli

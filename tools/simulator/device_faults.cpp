#include "simulator/device_faults.h"

#include <algorithm>
#include <string_view>

#include "serial/protocol.h"

namespace kelvo {
namespace {

constexpr std::uint8_t kNoiseByte = '.';
constexpr std::string_view kBabble = "ZARQ application running\r\n";

}  // namespace

void DeviceFaults::StartSession() {
  refusals_ = 0;
  stored_blocks_ = 0;
}

std::string DeviceFaults::RefusePacket(std::uint8_t number) {
  if (!Answers() || number != options_.refuse_block || refusals_ >= options_.refuse_times) {
    return {};
  }
  ++refusals_;
  return "refused " + std::to_string(refusals_) + " of " + std::to_string(options_.refuse_times);
}

std::vector<std::uint8_t> DeviceFaults::CommandReply(std::vector<std::uint8_t> reply) const {
  reply.insert(reply.begin(), static_cast<std::size_t>(options_.noise_before_ack), kNoiseByte);
  return reply;
}

std::vector<std::uint8_t> DeviceFaults::PacketReply(std::vector<std::uint8_t> reply) const {
  if (options_.short_reply < 0) return reply;
  // The verdict comes last, so a short reply keeps the tail.
  const auto keep =
      std::min<std::size_t>(static_cast<std::size_t>(options_.short_reply), kPacketReplySize);
  reply.erase(reply.begin(), reply.end() - static_cast<std::ptrdiff_t>(keep));
  return reply;
}

bool DeviceFaults::HangUpDue() const {
  return options_.hang_up_after_blocks >= 0 && stored_blocks_ >= options_.hang_up_after_blocks;
}

// A babbling device never sends ACK or NAK. On a paced line it talks at the line's rate; an
// instant line has no rate, so it keeps the line as full as it will take, and a reader never
// finds it quiet.
std::vector<std::uint8_t> DeviceFaults::Babble() {
  if (!options_.babble) return {};
  std::vector<std::uint8_t> bytes(options_.paced ? 1 : kBabble.size());
  for (std::uint8_t& byte : bytes) {
    byte = static_cast<std::uint8_t>(kBabble[babble_index_]);
    babble_index_ = (babble_index_ + 1) % kBabble.size();
  }
  return bytes;
}

}  // namespace kelvo

#include "serial/loader_frames.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "serial/waits.h"

namespace kelvo {

bool SendCommand(SerialPort& port, Clock& clock, std::uint8_t code, std::uint16_t argument) {
  const std::array<std::uint8_t, kCommandFrameSize> frame{
      kLeadIn, code, static_cast<std::uint8_t>(0xFF - code),
      static_cast<std::uint8_t>(argument & 0xFF), static_cast<std::uint8_t>(argument >> 8)};
  if (port.Write(frame) != frame.size()) return false;
  return AwaitReply(port, clock, kCommandReplyTimeoutMs) == kAck;
}

std::uint8_t BlockChecksum(std::span<const std::uint8_t, kBlockSize> data) {
  std::uint8_t sum = 0;
  for (const std::uint8_t byte : data) sum = static_cast<std::uint8_t>(sum + byte);
  return sum;
}

bool SendBlock(SerialPort& port, Clock& clock, const std::atomic<std::uint16_t>& ResponseDelay,
               LineLog& log, std::uint8_t number, std::span<const std::uint8_t, kBlockSize> data) {
  std::array<std::uint8_t, kDataPacketSize> packet;
  packet[0] = kSoh;
  packet[1] = number;
  packet[2] = static_cast<std::uint8_t>(0xFF - number);
  std::copy(data.begin(), data.end(), packet.begin() + 3);
  packet[kDataPacketSize - 1] = BlockChecksum(data);
  if (port.Write(packet) != packet.size()) return false;

  // At 9600 baud the reply needs longer on the line than the read below waits; the operator's
  // response delay covers the difference.
  const std::uint16_t delay = ResponseDelay.load();
  if (delay != 0) clock.Delay(delay);

  std::array<std::uint8_t, kPacketReplySize> reply;
  const std::size_t count = port.Read(reply);
  if (count != reply.size()) {
    char line[80];
    std::snprintf(line, sizeof line, "Incomplete Response from ZARQ (Block %d, %d Bytes)",
                  static_cast<int>(number), static_cast<int>(count));
    log.LogLine(line);
  }
  return count != 0 && reply[count - 1] == kAck;
}

void DropLateReply(SerialPort& port) {
  // A read of n bytes waits at most n + 1 ms: 50 ms, longer than a USB adapter holds bytes
  // back (16 ms by default), so a pause in the tail does not pass for its end.
  std::array<std::uint8_t, 49> scratch;
  for (std::size_t taken = 0; taken < kPacketReplySize;) {
    const std::size_t got = port.Read(scratch);
    if (got == 0) return;
    taken += got;
  }
}

}  // namespace kelvo

#include "serial/waits.h"

#include "serial/protocol.h"

namespace kelvo {
namespace {

bool ReadByte(SerialPort& port, std::uint8_t& byte) {
  return port.Read({&byte, 1}) == 1;
}

struct Polled {
  std::uint8_t held = 0;  // the last byte received in this wait
  bool last_read_got_byte = false;
};

Polled PollForAckOrNak(SerialPort& port, Clock& clock, std::uint32_t timeout_ms) {
  const std::uint32_t deadline = clock.TickCount() + timeout_ms;
  std::uint32_t now = clock.TickCount();
  Polled polled;
  polled.last_read_got_byte = ReadByte(port, polled.held);
  while (polled.held != kAck && polled.held != kNak && now < deadline) {
    clock.Delay(kPollStepMs);
    polled.last_read_got_byte = ReadByte(port, polled.held);
    now = clock.TickCount();
  }
  return polled;
}

}  // namespace

std::uint8_t AwaitHandshake(SerialPort& port, Clock& clock, std::uint32_t timeout_ms) {
  const Polled polled = PollForAckOrNak(port, clock, timeout_ms);
  if (!polled.last_read_got_byte) return 0;
  clock.Delay(kPollStepMs);
  std::uint8_t scratch = 0;
  if (ReadByte(port, scratch)) return 0xFF;
  return polled.held;
}

std::uint8_t AwaitReply(SerialPort& port, Clock& clock, std::uint32_t timeout_ms) {
  const Polled polled = PollForAckOrNak(port, clock, timeout_ms);
  return polled.last_read_got_byte ? polled.held : 0;
}

}  // namespace kelvo

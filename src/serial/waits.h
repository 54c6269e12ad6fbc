#pragma once

#include <cstdint>

#include "serial/clock.h"
#include "serial/serial_port.h"

namespace kelvo {

// Both waits read one byte at a time, one poll step (150 ms of the clock) apart, until ACK or
// NAK comes or the time-out has run out; bytes ahead of the ACK or NAK cost one step each.
inline constexpr std::uint32_t kPollStepMs = 150;

// 0 when the last read got nothing; 0xFF when a further byte followed within one poll step
// (a data stream, not a reply); otherwise the byte last received.
std::uint8_t AwaitHandshake(SerialPort& port, Clock& clock, std::uint32_t timeout_ms);

// The byte last received if the last read got one, else 0.
std::uint8_t AwaitReply(SerialPort& port, Clock& clock, std::uint32_t timeout_ms);

}  // namespace kelvo

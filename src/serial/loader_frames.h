#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "serial/clock.h"
#include "serial/line_log.h"
#include "serial/protocol.h"
#include "serial/serial_port.h"

namespace kelvo {

// How long the loader may take to answer a command frame.
inline constexpr std::uint32_t kCommandReplyTimeoutMs = 10000;

// Sends the command frame (lead-in, code, its complement, argument low byte first) in one
// write. True only when all 5 bytes went out and the loader answered ACK within the time-out.
bool SendCommand(SerialPort& port, Clock& clock, std::uint8_t code, std::uint16_t argument);

// The 8-bit sum of the block's bytes.
std::uint8_t BlockChecksum(std::span<const std::uint8_t, kBlockSize> data);

// Sends one data packet in one write, waits ResponseDelay (read afresh at every call, as the
// operator may change it) on the clock, and takes the reply in one read of up to 133 bytes. A
// reply of any other length is logged. True when the whole packet went out and the last byte
// of the reply is ACK, whatever came before it.
bool SendBlock(SerialPort& port, Clock& clock, const std::atomic<std::uint16_t>& ResponseDelay,
               LineLog& log, std::uint8_t number, std::span<const std::uint8_t, kBlockSize> data);

// Takes in and drops what is left of a reply that came too late for SendBlock's read, which
// the next read would otherwise take for its own reply's start: reads until the line has been
// quiet for 50 ms, at most a reply's length, so that a device that never stops talking cannot
// hold it up.
void DropLateReply(SerialPort& port);

}  // namespace kelvo

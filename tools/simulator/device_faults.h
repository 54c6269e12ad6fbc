#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "simulator/zarq_simulator.h"

namespace kelvo {

// Every way the simulated device departs from a well-behaved loader, as its options ask. The
// protocol and the line ask here at each point a fault can change, so a new fault is added here
// and in SimulatorOptions. Asked from the simulator's thread only.
class DeviceFaults {
 public:
  explicit DeviceFaults(const SimulatorOptions& options) : options_(options) {}

  void StartSession();  // the counts of refusals and stored blocks begin again

  bool Answers() const { return !options_.silent && !options_.babble; }
  std::uint8_t HandshakeByte() const { return static_cast<std::uint8_t>(options_.handshake_byte); }
  bool RefusesCommand(std::uint8_t code) const { return code == options_.refuse_command; }
  // Why this sound packet is refused this time, counting the refusal; empty to accept it.
  std::string RefusePacket(std::uint8_t number);
  // The replies a well-behaved loader would send, as this device sends them.
  std::vector<std::uint8_t> CommandReply(std::vector<std::uint8_t> reply) const;
  std::vector<std::uint8_t> PacketReply(std::vector<std::uint8_t> reply) const;

  void BlockStored() { ++stored_blocks_; }
  bool HangUpDue() const;  // before the program's next bytes are taken
  // What the device sends whenever the line has nothing else to send.
  std::vector<std::uint8_t> Babble();

 private:
  const SimulatorOptions options_;
  int refusals_ = 0;
  int stored_blocks_ = 0;
  std::size_t babble_index_ = 0;
};

}  // namespace kelvo

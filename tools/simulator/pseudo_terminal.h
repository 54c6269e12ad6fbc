#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvo {

// The device end of a pseudo-terminal pair. The program under test opens SlavePath() as its
// serial port; whoever holds this object plays the device on the master side.
class PseudoTerminal {
 public:
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool IsOpen() const { return master_ >= 0; }
  const std::string& SlavePath() const { return slave_path_; }
  int MasterFd() const { return master_; }

  // Writes all bytes to the program's side; false if the line refused them.
  bool Write(std::span<const std::uint8_t> bytes);
  // Reads what the program sent, waiting up to wait for the first byte and taking whatever is
  // there then; empty after the wait with nothing sent.
  std::vector<std::uint8_t> ReadAvailable(std::chrono::milliseconds wait);
  // Reads until count bytes have come or the wait has run out.
  std::vector<std::uint8_t> ReadExactly(std::size_t count, std::chrono::milliseconds wait);

  // Hangs up: the program's side then reads nothing and fails to write.
  void Close();

 private:
  int master_ = -1;
  std::string slave_path_;
};

}  // namespace kelvo

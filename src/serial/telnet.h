#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kelvo {

// The bytes of a Telnet connection with the COM Port Control option (RFC 2217), as a device
// server that offers it speaks them. Only bytes: the socket is the network port's business.
namespace telnet {

inline constexpr std::uint8_t kIac = 255;  // "interpret as command": every command starts with it
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;  // subnegotiation begins...
inline constexpr std::uint8_t kSe = 240;  // ...and ends

inline constexpr std::uint8_t kBinary = 0;  // 8-bit data: CR is not followed by NUL
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPort = 44;

// COM Port Control requests; the server answers each with its code plus 100.
inline constexpr std::uint8_t kSetBaudRate = 1;  // 4 bytes, most significant first
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;    // 1: none
inline constexpr std::uint8_t kSetStopSize = 4;  // 1: one stop bit
inline constexpr std::uint8_t kSetControl = 5;   // 1: no flow control out, 14: none in
inline constexpr std::uint8_t kPurgeData = 12;   // 3: both directions
inline constexpr std::uint8_t kAnswerOffset = 100;

}  // namespace telnet

// Data for the wire: each 0xFF doubled, so that the far end does not read it as a command.
void AppendEscaped(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& wire);

// How many of data's bytes the first wire_count bytes of its escaped form carry whole.
std::size_t DataBytesIn(std::span<const std::uint8_t> data, std::size_t wire_count);

// What the port sends as the connection opens: the options it wants (binary both ways, no
// go-ahead, COM Port Control) and the loader's line: 9600 baud, 8 data bits, no parity, one
// stop bit, no flow control, and both directions purged, last, so that its answer marks the
// end of whatever was on the line before.
std::vector<std::uint8_t> LoaderLineRequests();

// Takes the server's bytes in whatever pieces they come and sorts them into data, answers the
// port owes the server, and COM Port Control answers.
class TelnetReader {
 public:
  // Appends the data bytes to data and the port's answers to the server's option requests to
  // replies: an option the port wants is accepted silently (it asked first), any other refused
  // once. Data before the answer to the purge that LoaderLineRequests ends with was on the line
  // before the purge, and is dropped.
  void Take(std::span<const std::uint8_t> wire, std::vector<std::uint8_t>& data,
            std::vector<std::uint8_t>& replies);
  bool PurgeAnswered() const { return purge_answered_; }
  // Keeps all data from now on, for a server that leaves the purge unanswered.
  void StopAwaitingPurge() { purge_answered_ = true; }

 private:
  enum class State { kData, kCommand, kOption, kSubnegotiation, kSubnegotiationCommand };
  void TakeOption(std::uint8_t option, std::vector<std::uint8_t>& replies);
  void EndSubnegotiation();

  State state_ = State::kData;
  std::uint8_t verb_ = 0;
  std::vector<std::uint8_t> subnegotiation_;
  std::vector<bool> refused_ = std::vector<bool>(512);  // [verb is DO or DONT][option]
  bool purge_answered_ = false;
};

}  // namespace kelvo

#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kelvo {

// How the simulated device behaves; the defaults make a well-behaved loader that answers at once.
struct SimulatorOptions {
  bool paced = false;             // a real 9600-baud line: every byte takes 10/9600 s, both ways
  bool silent = false;            // never sends a byte
  bool babble = false;            // once the program has opened the port, sends a continuous
                                  // stream of bytes (never ACK or NAK) and answers nothing
  int handshake_byte = 0x15;      // the byte that announces the loader (NAK); another value
                                  // (ACK, 'X') simulates a stray byte at the handshake
  int refuse_block = -1;          // wire block number (0..255) whose packet is refused...
  int refuse_times = 0;           // ...this many times (NAK) in each session before it is accepted
  int refuse_command = -1;        // command code (0x41 or 0x45) always answered with NAK
  int short_reply = -1;           // reply to packets with only this many bytes (still ending in
                                  // the ACK/NAK verdict; 0 sends nothing); -1: the full 133
  int noise_before_ack = 0;       // stray bytes (not ACK/NAK) sent ahead of each command's reply
  int hang_up_after_blocks = -1;  // hang up (close the line) after accepting this many packets
                                  // in a session, as soon as the program sends anything more
  // A line of boards: once an upload that stored blocks ends in EOT, a new, erased board takes
  // the line after this pause and sends its handshake byte. -1: one board for good.
  int next_board_ms = -1;
};

struct ReceivedFrame {
// GCC 12 takes a scoped enumerator for a shadow of the protocol byte of the same name (kEot).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
  enum class Kind { kCommand, kPacket, kEot, kOther };
#pragma GCC diagnostic pop
  Kind kind;
  std::vector<std::uint8_t> bytes;  // the frame's bytes as received (kOther: one stray byte)
  bool accepted;                    // answered with ACK
};

// A simulated ZARQ loader on the device end of a pseudo-terminal, run by a thread of its own.
//
// Memory: 1 MiB in address units of 16 bytes, all 0xFF at start, kept for the simulator's life.
// Each time the program opens the port and sets it up for the loader a session begins: the
// device sends its handshake byte and loads from address 0x2000 until the program closes the
// port. As a line of boards (next_board_ms), each new board starts erased, and a session that
// begins while the next board is awaited gets its handshake byte only when that board comes.
// Accessors may be called from any thread while it runs.
class ZarqSimulator {
 public:
  static constexpr std::size_t kMemoryBytes = 0x100000;
  static constexpr std::size_t kAddressUnitBytes = 16;

  explicit ZarqSimulator(SimulatorOptions options = {});
  ~ZarqSimulator();  // stops and hangs up
  ZarqSimulator(const ZarqSimulator&) = delete;
  ZarqSimulator& operator=(const ZarqSimulator&) = delete;

  // False if the pseudo-terminal failed, after a hang-up (hang_up_after_blocks) and after Stop.
  bool IsRunning() const { return running_.load(); }
  const std::string& PortPath() const;  // for OpenLoaderPort

  std::vector<std::uint8_t> Memory() const;   // snapshot of the whole memory
  std::vector<ReceivedFrame> Frames() const;  // every frame received so far, in order
  std::vector<std::string> FrameLog() const;  // one readable line per frame, in order
  int EotCount() const;
  // As a line of boards: the memories of the boards replaced since the last call, oldest first.
  std::vector<std::vector<std::uint8_t>> TakeLoadedBoards();

  // Waits up to limit until at least count frames have been received; false on time-out. For
  // frames the device does not answer, whose arrival the program cannot otherwise see.
  bool AwaitFrames(std::size_t count, std::chrono::milliseconds limit) const;

  // Each returns why the file could not be written, or "".
  std::string SaveMemory(const std::string& path) const;    // the raw 1 MiB
  std::string SaveFrameLog(const std::string& path) const;  // FrameLog(), one line each

  void Stop();

 private:
  struct Device;  // the device's faults, protocol and line, which the thread runs

  std::unique_ptr<Device> device_;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

// Writes bytes to the file at path, as an output file is written (OpenOutputFile); returns why it
// could not be written, or "".
std::string WriteOutputFile(const std::string& path, const std::string& bytes);

}  // namespace kelvo

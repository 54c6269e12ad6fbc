#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "serial/protocol.h"
#include "simulator/device_faults.h"
#include "simulator/zarq_simulator.h"

namespace kelvo {

// The loader's side of the protocol: cuts the program's bytes into frames, answers them as the
// faults allow, loads packets at its load address, erases, and records every frame. The session
// calls come from the simulator's thread; the accessors may be called from any thread.
class DeviceProtocol {
 public:
  explicit DeviceProtocol(DeviceFaults& faults);

  // What the device sends as a session begins; loading starts again at the first address.
  std::vector<std::uint8_t> StartSession();
  // Takes one byte that has fully arrived; returns the reply to the frame it completes, if any.
  std::vector<std::uint8_t> Take(std::uint8_t byte);
  void DropFrame();  // a frame the end of a session cut short
  // An upload that stored blocks has ended in EOT: the board is done.
  bool BoardLoaded() const { return board_loaded_; }
  // A new, erased board replaces this one, whose memory is kept for TakeLoadedBoards; returns
  // what the new board sends as its session begins.
  std::vector<std::uint8_t> NextBoard();

  std::vector<std::uint8_t> Memory() const;
  std::vector<ReceivedFrame> Frames() const;
  std::vector<std::string> FrameLog() const;
  int EotCount() const { return eot_count_.load(); }
  bool AwaitFrames(std::size_t count, std::chrono::milliseconds limit) const;
  std::vector<std::vector<std::uint8_t>> TakeLoadedBoards();

 private:
  struct Record {
    ReceivedFrame frame;
    std::string line;
  };

  std::vector<std::uint8_t> HandleCommand();
  std::vector<std::uint8_t> HandlePacket();
  std::string Verdict(bool accepted) const;
  void AddRecord(ReceivedFrame::Kind kind, bool accepted, std::string line);
  void Store(std::uint16_t address, std::span<const std::uint8_t> data);
  void Erase(std::uint16_t address);

  DeviceFaults& faults_;
  std::vector<std::uint8_t> frame_;            // the frame being received
  std::uint16_t address_ = kFirstLoadAddress;  // in 16-byte units
  std::optional<std::uint8_t> last_stored_;    // number of the block stored last at address_ - 8
  std::atomic<int> eot_count_{0};
  bool board_stored_ = false;  // the board has stored a block
  bool board_loaded_ = false;

  mutable std::mutex mutex_;  // guards memory_ and records_
  mutable std::condition_variable recorded_;
  std::vector<std::uint8_t> memory_;
  std::vector<Record> records_;
  std::vector<std::vector<std::uint8_t>> loaded_boards_;
};

}  // namespace kelvo

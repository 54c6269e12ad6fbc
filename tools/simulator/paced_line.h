#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "simulator/pseudo_terminal.h"

namespace kelvo {

class DeviceFaults;
class DeviceProtocol;
struct SimulatorOptions;

// The device's end of the line: the master of a pseudo-terminal in packet mode. Sees the
// program open and close the port, carries bytes both ways (each taking one byte time of a
// 9600-baud line when paced), hands the program's bytes to the protocol as they arrive and
// sends its replies. Puts the next board of a line of boards in place when its pause is over.
class PacedLine {
 public:
  PacedLine(const SimulatorOptions& options, DeviceProtocol& protocol, DeviceFaults& faults);
  ~PacedLine();  // closes
  PacedLine(const PacedLine&) = delete;
  PacedLine& operator=(const PacedLine&) = delete;

  // False if the pseudo-terminal or the means to wait on it could not be had, and after a
  // hang-up or Close.
  bool IsOpen() const { return terminal_.IsOpen(); }
  const std::string& SlavePath() const { return terminal_.SlavePath(); }

  // On the simulator's thread, until Stop or a hang-up the faults call for.
  void Run();
  void Stop();   // from any thread: Run returns soon after
  void Close();  // once Run has returned: hangs up

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct TimedByte {
    std::uint8_t byte;
    TimePoint at;  // when its last bit has reached the other end: ours are written then
  };

  void ReadFromProgram(TimePoint now);
  void Receive(std::uint8_t byte, TimePoint now);
  void WatchLine(TimePoint now);
  void StartSession(TimePoint now);
  void PlaceNextBoard(TimePoint now);
  void EndSession();
  void HangUp();
  void TakeArrivedBytes(TimePoint now);
  void Take(const TimedByte& byte);
  void Send(std::span<const std::uint8_t> bytes, TimePoint at);
  void SendDueBytes(TimePoint now);
  void Wait(TimePoint now);

  const bool paced_;
  const std::optional<std::chrono::milliseconds> next_board_pause_;  // none: one board for good
  DeviceProtocol& protocol_;
  DeviceFaults& faults_;
  PseudoTerminal terminal_;
  int wake_fd_ = -1;   // eventfd that Stop signals, so an idle thread need not poll
  int epoll_fd_ = -1;  // what the thread waits on: the master and wake_fd_
  std::atomic<bool> stop_{false};

  bool session_ = false;       // the program has the port open and set up
  bool open_pending_ = false;  // a new open was seen; its session begins once the line is set up
  bool flushed_open_ = false;  // the open was seen by its flush, which ends the program's set-up
  bool was_at_loader_speed_ = false;
  bool output_blocked_ = false;
  bool hung_up_ = false;

  std::deque<TimedByte> incoming_;
  std::deque<TimedByte> outgoing_;
  std::vector<std::uint8_t> burst_;
  TimePoint incoming_free_{};               // when the program's last byte has fully arrived
  TimePoint outgoing_free_{};               // when our last queued byte has fully left
  std::optional<TimePoint> next_board_at_;  // a loaded board is replaced then
};

}  // namespace kelvo

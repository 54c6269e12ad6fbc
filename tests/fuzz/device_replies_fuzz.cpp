// libFuzzer target for whatever the device sends: the input plays the device's side of a whole
// upload over a real pseudo-terminal, with the clock ticked as soon as the upload waits on it.
// Every upload must end, and a Halt must be honoured within the longest stretch of waits that
// the upload runs between two looks at HaltRequested.
//
// The input: a set-up byte (bit 0: a ZARQX, bits 1-2: the image's shape, bits 3-6: the response
// delay in 25 ms steps, bit 7: a start address the upload refuses), a byte that sets the clock
// time after which Halt is pressed ((n % 64 + 1) * 500 ms), then the device's chunks, each
// [trigger][length][bytes]: trigger 0 sends the chunk when the port opens or the next frame
// arrives, 1 to 254 that many ticks after the chunk before; 255 (no length) hangs up at the next
// frame. Halt is also pressed when a frame arrives and the device has nothing left to say, and at
// the program's 12th frame: a block refused with a response delay of 0 is retried without any
// wait on the clock, so a clock budget alone would never stop those retries.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <regex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "serial/loader_frames.h"
#include "serial/protocol.h"
#include "serial/waits.h"
#include "simulator/pseudo_terminal.h"
#include "transfer/memory_form.h"
#include "transfer/shared_state.h"
#include "transfer/transfer_frame.h"

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Require(bool holds) {
  if (!holds) std::abort();
}

// A wait of t ms polls every 150 ms until the deadline has passed.
constexpr std::uint32_t Waited(std::uint32_t timeout_ms) {
  return (timeout_ms + kPollStepMs - 1) / kPollStepMs * kPollStepMs;
}
constexpr std::uint32_t RoundedToTick(std::uint32_t ms) {
  return (ms + Clock::kTickMs - 1) / Clock::kTickMs * Clock::kTickMs;
}
// The upload looks at HaltRequested after each handshake try (5000 ms and one poll step more),
// after the address command, before each erase command and after each block. The longest
// stretch without a look: the last erase command, the address command after a leading gap of
// blank blocks and the first block's response delay. The two EOT waits come after the last look
// but end by themselves.
std::uint32_t HaltHonouredWithin(std::uint32_t response_delay_ms) {
  return std::max({Waited(5000) + kPollStepMs,
                   2 * Waited(kCommandReplyTimeoutMs) + RoundedToTick(response_delay_ms),
                   2 * Waited(1000)});
}
// Each keeps one input's real time to a few seconds: a reply short of 133 bytes costs the read's
// 134 ms.
constexpr std::size_t kMostChunks = 48;
constexpr std::size_t kMostFrames = 12;

struct Chunk {
  int trigger = 0;  // 0: the next event; 1 to 254: ticks after the chunk before; 255: hang up
  Bytes bytes;
};

struct Input {
  bool zarqx = false, bad_address = false;
  int shape = 0;
  std::uint32_t response_delay = 0;
  std::uint32_t halt_budget = 0;
  std::vector<Chunk> chunks;
};

Input ReadInput(std::span<const std::uint8_t> data) {
  Input input;
  if (data.size() < 2) return input;
  input.zarqx = (data[0] & 1) != 0;
  input.shape = (data[0] >> 1) & 3;
  input.response_delay = ((data[0] >> 3) & 15) * 25u;
  input.bad_address = (data[0] & 0x80) != 0;
  input.halt_budget = (data[1] % 64 + 1) * 500u;
  for (std::size_t at = 2; at < data.size() && input.chunks.size() < kMostChunks;) {
    Chunk chunk{data[at++], {}};
    if (chunk.trigger != 255 && at < data.size()) {
      const std::size_t length = std::min<std::size_t>(data[at], data.size() - at - 1);
      ++at;
      chunk.bytes.assign(data.begin() + at, data.begin() + at + length);
      at += length;
    }
    input.chunks.push_back(chunk);
  }
  return input;
}

// Blank blocks are left out, so the shapes differ in where the gaps are; the last is one erase
// region and two blocks more, blank but for those two.
std::vector<Bytes> ImageBlocks(int shape) {
  const std::vector<int> kinds[] = {{1}, {1, 1, 1, 2}, {0, 1, 0, 0, 1, 1}, {}};
  std::vector<int> kind = kinds[shape];
  if (shape == 3) {
    kind.assign(1026, 0);
    kind[1024] = kind[1025] = 1;
  }
  std::vector<Bytes> blocks;
  for (std::size_t b = 0; b < kind.size(); ++b) {
    Bytes block(kBlockSize, 0xFF);
    const std::size_t filled = kind[b] == 0 ? 0 : kind[b] == 1 ? kBlockSize : 40;
    for (std::size_t i = 0; i < filled; ++i) block[i] = static_cast<std::uint8_t>(i * 7 + b);
    blocks.push_back(block);
  }
  return blocks;
}

// The device: answers the program's frames and the clock's ticks with the input's chunks, and
// keeps every burst that crosses the line, both ways, in order.
class ScriptedDevice : public PortTap {
 public:
  struct Burst {
    bool sent;  // by the program
    Bytes bytes;
  };

  ScriptedDevice(std::vector<Chunk> chunks, SharedState& shared)
      : chunks_(std::move(chunks)), shared_(shared) {}

  const std::string& PortPath() const { return line_.SlavePath(); }

  void OnOpen() {
    std::lock_guard lock(mutex_);
    OnEvent();
  }
  void OnTick() {
    std::lock_guard lock(mutex_);
    ++ticks_;
    if (next_ < chunks_.size() && chunks_[next_].trigger != 0 && chunks_[next_].trigger != 255 &&
        ticks_ >= chunks_[next_].trigger)
      SendNext();
  }
  void OnBytes(Direction direction, std::span<const std::uint8_t> bytes) override {
    std::lock_guard lock(mutex_);
    bursts_.push_back({direction == Direction::kSent, Bytes(bytes.begin(), bytes.end())});
    if (direction != Direction::kSent) return;
    // What the port says it sent is what reached the device.
    const Bytes arrived = line_.ReadExactly(bytes.size(), std::chrono::seconds(1));
    Require(line_.IsOpen() &&
            std::equal(bytes.begin(), bytes.end(), arrived.begin(), arrived.end()));
    if (++frames_ == kMostFrames) PressHalt();
    OnEvent();
  }

  std::vector<Burst> Bursts() {
    std::lock_guard lock(mutex_);
    return bursts_;
  }
  std::optional<std::uint32_t> HaltedAt() const {
    const std::uint32_t at = halted_at_.load();
    return at == kNotHalted ? std::nullopt : std::optional(at);
  }
  void PressHalt() {
    std::uint32_t none = kNotHalted;
    if (halted_at_.compare_exchange_strong(none, shared_.clock.TickCount()))
      shared_.HaltRequested.store(1);
  }

 private:
  static constexpr std::uint32_t kNotHalted = 0xFFFFFFFF;

  void OnEvent() {
    if (next_ == chunks_.size()) {
      PressHalt();
    } else if (chunks_[next_].trigger == 255) {
      line_.Close();
      next_ = chunks_.size();
    } else if (chunks_[next_].trigger == 0) {
      SendNext();
    }
  }
  void SendNext() {
    const Bytes& bytes = chunks_[next_++].bytes;
    // More than the line holds is lost, as on a real line nobody reads.
    if (!bytes.empty()) [[maybe_unused]]
      const ssize_t n = ::write(line_.MasterFd(), bytes.data(), bytes.size());
    ticks_ = 0;
  }

  std::mutex mutex_;
  PseudoTerminal line_;
  const std::vector<Chunk> chunks_;
  std::size_t next_ = 0;
  int ticks_ = 0;
  std::size_t frames_ = 0;
  SharedState& shared_;
  std::atomic<std::uint32_t> halted_at_{kNotHalted};
  std::vector<Burst> bursts_;
};

// Starts the device's session once the port is open and set up, which "Opened" follows.
struct DeviceForm : MemoryForm {
  explicit DeviceForm(ScriptedDevice& d) : device(d) {}
  void LogLine(const std::string& text) override {
    MemoryForm::LogLine(text);
    if (text == "Opened" && !port_opened) {
      port_opened = true;
      device.OnOpen();
    }
  }
  ScriptedDevice& device;
  bool port_opened = false;
};

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// The program sends only whole frames, each in one write, and answers each reply as the
// protocol says: a command not acknowledged is the last frame, a block is sent again until its
// reply ends in ACK, blocks go out in order and whole, and EOT ends a complete upload only.
void CheckWire(const std::vector<ScriptedDevice::Burst>& bursts, const std::vector<Bytes>& blocks,
               TransferOutcome outcome, const std::string& log) {
  std::vector<std::size_t> to_send;  // the blocks that are not blank, by index
  for (std::size_t b = 0; b < blocks.size(); ++b)
    if (std::any_of(blocks[b].begin(), blocks[b].end(), [](std::uint8_t x) { return x != 0xFF; }))
      to_send.push_back(b);
  std::size_t next = 0, short_replies = 0, eots = 0;
  for (std::size_t i = 0; i < bursts.size(); ++i) {
    if (!bursts[i].sent) continue;
    const Bytes& frame = bursts[i].bytes;
    Bytes reply, first_read;
    std::size_t j = i + 1;
    for (; j < bursts.size() && !bursts[j].sent; ++j) {
      if (j == i + 1) first_read = bursts[j].bytes;
      reply.insert(reply.end(), bursts[j].bytes.begin(), bursts[j].bytes.end());
    }
    const bool last = j == bursts.size();
    Require(eots == 0 || (frame == Bytes{kEot} && eots == 1));
    if (frame.size() == kCommandFrameSize) {
      Require(frame[0] == kLeadIn && (frame[1] == SetAddressCommand || frame[1] == EraseCommand) &&
              frame[2] == 0xFF - frame[1]);
      Require(last || (!reply.empty() && reply.back() == kAck));
    } else if (frame.size() == kDataPacketSize) {
      Require(next < to_send.size());
      const Bytes& block = blocks[to_send[next]];
      Require(frame[0] == kSoh && frame[1] == ((to_send[next] + 1) & 0xFF) &&
              frame[2] == 0xFF - frame[1] &&
              std::equal(block.begin(), block.end(), frame.begin() + 3) &&
              frame.back() == BlockChecksum(std::span<const std::uint8_t, kBlockSize>(block)));
      short_replies += first_read.size() != kPacketReplySize;
      if (!first_read.empty() && first_read.back() == kAck) ++next;
    } else {
      Require(frame == Bytes{kEot});
      ++eots;
    }
  }
  Require(Count(log, "Incomplete Response from ZARQ") == short_replies);
  const bool complete = outcome == TransferOutcome::kComplete;
  Require(eots == (complete ? 2 : 0));
  if (complete) Require(next == to_send.size());
}

void CheckLog(const std::string& log, TransferOutcome outcome, std::size_t blank_blocks,
              const std::string& errors_field) {
  static const std::regex closing(
      "Closing Port\r\nTime: \\d\\d:\\d\\d:\\d\\d\r\nElapsed: \\d\\d:\\d\\d\r\n$");
  Require(std::regex_search(log, closing));
  const std::string end = "Programming Complete\r\n" + std::to_string(blank_blocks) +
                          " Unused Blocks Skipped\r\nSending EOT\r\nClosing Port\r\n";
  Require((log.find(end) != std::string::npos) == (outcome == TransferOutcome::kComplete));
  const std::size_t errors = Count(log, " . . . Retrying\r\n");
  if (log.find("Starting Programming") != std::string::npos)
    Require(errors_field == std::to_string(errors));
}

}  // namespace
}  // namespace kelvo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvo;
  const Input input = ReadInput({data, size});
  const std::vector<Bytes> blocks = ImageBlocks(input.shape);

  // The file of the second shape ends in a part block, which the upload pads with 0xFF.
  Bytes file;
  for (const Bytes& block : blocks) file.insert(file.end(), block.begin(), block.end());
  if (input.shape == 1) file.resize(file.size() - kBlockSize + 40);
  const int image = ::memfd_create("image", MFD_CLOEXEC);
  Require(::write(image, file.data(), file.size()) == static_cast<ssize_t>(file.size()));
  SharedState shared;
  ScriptedDevice device(input.chunks, shared);
  DeviceForm form(device);
  form.SetText(Control::PortCombo, device.PortPath());
  form.SetText(Control::FileEdit, "/proc/self/fd/" + std::to_string(image));
  form.SetText(Control::DeviceTypeCombo, input.zarqx ? "ZARQX" : "ZARQ 40 - 580");
  form.SetText(Control::StartAddressCombo, input.bad_address ? "0x4000" : "0x2000");
  form.SetText(Control::ResponseDelayEdit, std::to_string(input.response_delay));

  std::atomic<bool> done{false};
  TransferOutcome outcome{};
  std::thread worker([&] {
    outcome = RunTransfer(TransferKind::kUploadImage, form, shared, {.tap = &device}).outcome;
    done.store(true);
  });
  const std::uint32_t bound = HaltHonouredWithin(input.response_delay);
  while (!done.load()) {
    if (!shared.clock.AwaitSleeper(std::chrono::milliseconds(1))) continue;
    if (shared.clock.TickCount() >= input.halt_budget) device.PressHalt();
    if (const auto halted = device.HaltedAt()) Require(shared.clock.TickCount() - *halted <= bound);
    device.OnTick();
    shared.clock.Tick();
  }
  worker.join();
  ::close(image);
  if (const auto halted = device.HaltedAt()) Require(shared.clock.TickCount() - *halted <= bound);

  Require(outcome != TransferOutcome::kHalted || device.HaltedAt());
  const std::string log = form.Log();
  std::size_t blank = 0;
  for (const Bytes& block : blocks)
    blank += std::all_of(block.begin(), block.end(), [](std::uint8_t x) { return x == 0xFF; });
  CheckLog(log, outcome, blank, form.ReadText(Control::ErrorsField));
  CheckWire(device.Bursts(), blocks, outcome, log);
  return 0;
}

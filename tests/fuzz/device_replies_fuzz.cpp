// libFuzzer target for whatever the device sends: the input plays the device's side of a whole
// upload over a pseudo-terminal, the clock ticked as soon as the upload waits on it.
//
// The input: a set-up byte (bit 0: a ZARQX, bits 1-2: the image's shape, bits 3-6: the response
// delay in 25 ms steps, bit 7: a start address the upload refuses), a byte giving the clock time
// at which Halt is pressed ((n % 64 + 1) * 500 ms), then chunks [trigger][length][bytes]: trigger
// 0 sends at the port's open or the next frame, 1 to 254 that many ticks after the chunk before,
// 255 (no length) hangs up at the next frame. Halt is also pressed when the device has nothing
// left to say and at the 12th frame, since a block refused with no response delay is retried
// without a wait on the clock.
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <mutex>

#include "fuzz/fuzz_require.h"
#include "serial/loader_frames.h"
#include "serial/waits.h"
#include "simulator/pseudo_terminal.h"
#include "support/transfer_run.h"

namespace kelvo {
namespace {

using testing::Bytes;

// The longest stretch without a look at HaltRequested: the last erase command, the address
// command after a leading gap of blank blocks and the first block's response delay. A wait of
// t ms polls every 150 ms until its deadline; the handshake tries and the EOT waits are shorter.
std::uint32_t HaltHonouredWithin(std::uint32_t response_delay_ms) {
  const auto up_to = [](std::uint32_t ms, std::uint32_t step) {
    return (ms + step - 1) / step * step;
  };
  return 2 * up_to(kCommandReplyTimeoutMs, kPollStepMs) + up_to(response_delay_ms, Clock::kTickMs);
}
// Each keeps one input's real time to a few seconds: a reply short of 133 bytes costs the read's
// 134 ms.
constexpr std::size_t kMostChunks = 48;
constexpr std::size_t kMostFrames = 12;
constexpr std::uint32_t kNotHalted = 0xFFFFFFFF;

// Blank blocks are left out, so the shapes differ in where the gaps are: the second ends in a
// part block, which the upload pads with 0xFF; the last is one erase region and two blocks more.
Bytes ImageFile(int shape) {
  using testing::Blank, testing::Pattern;
  return shape == 0   ? Pattern(kBlockSize)
         : shape == 1 ? Pattern(3 * kBlockSize + 40)
         : shape == 2 ? Blank(Blank(Pattern(6 * kBlockSize), 1, 1), 3, 4)
                      : Blank(Pattern(1026 * kBlockSize), 1, 1024);
}

// The device: answers the program's frames and the clock's ticks with the input's chunks, and
// keeps every frame the program sends, in order, with the last byte of each read after it.
class ScriptedDevice : public PortTap {
 public:
  struct Frame {
    Bytes bytes;
    Bytes read_ends;
  };

  ScriptedDevice(std::span<const std::uint8_t> data, SharedState& shared) : shared_(shared) {
    for (std::size_t at = 0; at < data.size() && chunks_.size() < kMostChunks;) {
      Chunk chunk{data[at++], {}};
      if (chunk.trigger != 255 && at < data.size()) {
        const std::size_t length = std::min<std::size_t>(data[at], data.size() - at - 1);
        chunk.bytes.assign(data.begin() + at + 1, data.begin() + at + 1 + length);
        at += 1 + length;
      }
      chunks_.push_back(chunk);
    }
  }

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
    if (direction != Direction::kSent) {
      if (!frames.empty()) frames.back().read_ends.push_back(bytes.back());
      return;
    }
    frames.push_back({Bytes(bytes.begin(), bytes.end()), {}});
    // What the port says it sent is what reached the device.
    const Bytes arrived = line_.ReadExactly(bytes.size(), std::chrono::seconds(1));
    Require(line_.IsOpen() &&
            std::equal(bytes.begin(), bytes.end(), arrived.begin(), arrived.end()));
    if (++frames_ == kMostFrames) PressHalt();
    OnEvent();
  }

  void PressHalt() {
    std::uint32_t none = kNotHalted;
    if (halted_at.compare_exchange_strong(none, shared_.clock.TickCount()))
      shared_.HaltRequested.store(1);
  }
  std::atomic<std::uint32_t> halted_at{kNotHalted};  // the clock's time when Halt was pressed
  std::vector<Frame> frames;                         // to be read once the upload has ended

 private:
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

  struct Chunk {
    int trigger = 0;  // 0: the next event; 1 to 254: ticks after the chunk before; 255: hang up
    Bytes bytes;
  };
  std::mutex mutex_;
  PseudoTerminal line_;
  std::vector<Chunk> chunks_;
  std::size_t next_ = 0;
  int ticks_ = 0;
  std::size_t frames_ = 0;
  SharedState& shared_;
};

// What the user guide's Reliability table says of the frames and the closing lines; the image as
// the upload pads it.
void Check(const std::vector<ScriptedDevice::Frame>& frames, const Bytes& image,
           TransferOutcome outcome, const std::string& log) {
  const auto block = [&](std::size_t b) { return image.begin() + b * kBlockSize; };
  std::vector<std::size_t> to_send;  // the blocks that are not blank, by index
  for (std::size_t b = 0; b < image.size() / kBlockSize; ++b)
    if (std::any_of(block(b), block(b + 1), [](std::uint8_t x) { return x != 0xFF; }))
      to_send.push_back(b);
  std::size_t next = 0, eots = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const auto& [frame, read_ends] = frames[i];
    Require(eots == 0 || (frame == Bytes{kEot} && eots == 1));
    if (frame.size() == kCommandFrameSize) {
      Require(frame[0] == kLeadIn && (frame[1] == SetAddressCommand || frame[1] == EraseCommand) &&
              frame[2] == 0xFF - frame[1]);
      Require(i + 1 == frames.size() || (!read_ends.empty() && read_ends.back() == kAck));
    } else if (frame.size() == kDataPacketSize) {
      Require(next < to_send.size());
      const std::size_t b = to_send[next];
      Require(frame[0] == kSoh && frame[1] == ((b + 1) & 0xFF) && frame[2] == 0xFF - frame[1] &&
              std::equal(block(b), block(b + 1), frame.begin() + 3) &&
              frame.back() == BlockChecksum(std::span(frame).subspan<3, kBlockSize>()));
      if (!read_ends.empty() && read_ends[0] == kAck) ++next;  // judged by the first read alone
    } else {
      Require(frame == Bytes{kEot});
      ++eots;
    }
  }
  const bool complete = outcome == TransferOutcome::kComplete;
  Require(eots == (complete ? 2 : 0) && (!complete || next == to_send.size()));

  Require(testing::WithTimesMasked(log).ends_with("Closing Port\r\nTime: T\r\nElapsed: T\r\n"));
  Require(
      testing::Body(log).ends_with(testing::Text(
          {{"Programming Complete",
            std::to_string(image.size() / kBlockSize - to_send.size()) + " Unused Blocks Skipped",
            "Sending EOT"}})) == complete);
}

}  // namespace
}  // namespace kelvo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvo;
  if (size < 2) return 0;
  const int shape = (data[0] >> 1) & 3;
  const std::uint32_t response_delay = ((data[0] >> 3) & 15) * 25u;
  const std::uint32_t halt_budget = (data[1] % 64 + 1) * 500u;
  Bytes image = ImageFile(shape);
  const int file = ::memfd_create("image", MFD_CLOEXEC);
  Require(::write(file, image.data(), image.size()) == static_cast<ssize_t>(image.size()));
  image.resize((image.size() + kBlockSize - 1) / kBlockSize * kBlockSize, 0xFF);
  SharedState shared;
  testing::WatchedForm form;
  ScriptedDevice device({data + 2, size - 2}, shared);
  // The device's session starts once the port is open and set up, which "Opened" follows.
  bool port_opened = false;
  form.watch = [&](Control, const std::string& text) {
    if (text == "Opened" && !std::exchange(port_opened, true)) device.OnOpen();
  };
  form.SetText(Control::PortCombo, device.PortPath());
  form.SetText(Control::FileEdit, "/proc/self/fd/" + std::to_string(file));
  form.SetText(Control::DeviceTypeCombo, data[0] & 1 ? "ZARQX" : "ZARQ 40 - 580");
  form.SetText(Control::StartAddressCombo, data[0] & 0x80 ? "0x4000" : "0x2000");
  form.SetText(Control::ResponseDelayEdit, std::to_string(response_delay));

  auto upload = std::async(std::launch::async, [&] {
    return RunTransfer(TransferKind::kUploadImage, form, shared, {.tap = &device}).outcome;
  });
  const std::uint32_t bound = HaltHonouredWithin(response_delay);
  const auto require_halt_in_time = [&] {
    const std::uint32_t halted = device.halted_at.load();
    Require(halted == kNotHalted || shared.clock.TickCount() - halted <= bound);
  };
  while (upload.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    if (!shared.clock.AwaitSleeper(std::chrono::milliseconds(1))) continue;
    if (shared.clock.TickCount() >= halt_budget) device.PressHalt();
    require_halt_in_time();
    device.OnTick();
    shared.clock.Tick();
  }
  const TransferOutcome outcome = upload.get();
  ::close(file);
  require_halt_in_time();
  Require(outcome != TransferOutcome::kHalted || device.halted_at.load() != kNotHalted);
  Check(device.frames, image, outcome, form.Log());
  return 0;
}

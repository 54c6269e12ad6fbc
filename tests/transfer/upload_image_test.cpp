#include "transfer/upload_image.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <regex>
#include <string>
#include <vector>

#include "serial/protocol.h"
#include "simulator/zarq_simulator.h"
#include "support/fast_ticker.h"
#include "transfer/memory_form.h"
#include "transfer/shared_state.h"
#include "transfer/transfer_frame.h"

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

constexpr std::size_t kImageOffset = 0x20000;  // byte offset of the first load address
const std::string kWaiting = "Waiting for Initial NAK . . . ";

// Image bytes that never make a blank block.
Bytes Pattern(std::size_t size) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i)
    image[i] = static_cast<std::uint8_t>((i * 7 + i / 251) % 253);
  return image;
}

// Makes the block with this number (counted from 1) blank.
void Blank(Bytes& image, std::size_t number) {
  std::fill_n(image.begin() + static_cast<std::ptrdiff_t>((number - 1) * kBlockSize), kBlockSize,
              0xFF);
}

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X", value);
  return text;
}

// The frames the device received, one short text each: "A 2008" and "E 4000" for commands,
// "#5" for a packet (the number on the wire), "EOT"; " refused" when not answered with ACK.
Lines Wire(const std::vector<ReceivedFrame>& frames) {
  Lines wire;
  for (const ReceivedFrame& frame : frames) {
    std::string text;
    switch (frame.kind) {
      case ReceivedFrame::Kind::kCommand:
        text = std::string(1, static_cast<char>(frame.bytes[1])) + " " +
               Hex(frame.bytes[3] | frame.bytes[4] << 8);
        break;
      case ReceivedFrame::Kind::kPacket:
        text = "#" + std::to_string(frame.bytes[1]);
        break;
      case ReceivedFrame::Kind::kEot:
        text = "EOT";
        break;
      case ReceivedFrame::Kind::kOther:
        text = "other " + Hex(frame.bytes.at(0));
        break;
    }
    wire.push_back(text + (frame.accepted ? "" : " refused"));
  }
  return wire;
}

// Packets from first to last wire number, one each, numbered modulo 256.
void AddPackets(Lines& wire, unsigned first, unsigned last) {
  for (unsigned n = first; n <= last; ++n)
    wire.push_back(std::string("#") + std::to_string(n % 256));
}

Lines SplitLines(const std::string& log) {
  Lines lines;
  std::size_t start = 0;
  for (std::size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(log.substr(start, end - start));
  }
  if (start < log.size()) lines.push_back(log.substr(start) + " <no line end>");
  return lines;
}

// The lines the body wrote: after the file line, before "Closing Port".
Lines BodyLines(const std::string& log) {
  const Lines lines = SplitLines(log);
  auto first = std::find_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.starts_with("Opening File "); });
  auto last = std::find(lines.begin(), lines.end(), "Closing Port");
  if (first == lines.end() || last == lines.end() || last < first) return {"<no body in>", log};
  return Lines(first + 1, last);
}

// The in-memory form that also does something (press Halt, say) the first time it is given a
// trigger text: as a log line, an appended piece or a field's whole text.
class TriggerForm : public MemoryForm {
 public:
  void On(std::string trigger, std::function<void()> action) {
    trigger_ = std::move(trigger);
    action_ = std::move(action);
  }
  void SetText(Control control, const std::string& text) override {
    MemoryForm::SetText(control, text);
    Fire(text);
  }
  void LogAppend(const std::string& text) override {
    MemoryForm::LogAppend(text);
    Fire(text);
  }
  void LogLine(const std::string& text) override {
    MemoryForm::LogLine(text);
    Fire(text);
  }

 private:
  void Fire(const std::string& text) {
    if (!action_ || text != trigger_) return;
    auto action = std::move(action_);
    action_ = nullptr;
    action();
  }
  std::string trigger_;
  std::function<void()> action_;
};

// Puts a directory behind the image file's open descriptor, so the next read of it fails.
void BreakOpenImage(const std::string& path) {
  std::vector<int> descriptors;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error) == fs::path(path)) {
      descriptors.push_back(std::stoi(entry.path().filename().string()));
    }
  }
  ASSERT_EQ(descriptors.size(), 1u) << "the image is not open exactly once";
  const int directory = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(directory, 0);
  ASSERT_EQ(::dup2(directory, descriptors[0]), descriptors[0]);
  ::close(directory);
}

// One upload through the whole transfer against the simulator, its clock driven fast.
class UploadRun {
 public:
  explicit UploadRun(const Bytes& image, SimulatorOptions options = {}) : sim(options) {
    char name[] = "/tmp/kelvo-image-XXXXXX";
    const int fd = ::mkstemp(name);
    image_path = name;
    if (fd >= 0) {
      const bool written =
          ::write(fd, image.data(), image.size()) == static_cast<ssize_t>(image.size());
      ::close(fd);
      if (!written) image_path.clear();
    }
    form.SetText(Control::DeviceTypeCombo, "ZARQ 40 - 580");
    form.SetText(Control::StartAddressCombo, "0x2000");
  }
  ~UploadRun() { fs::remove(image_path); }

  TransferOutcome Run() {
    EXPECT_TRUE(sim.IsRunning());
    EXPECT_FALSE(image_path.empty());
    form.SetText(Control::PortCombo, sim.PortPath());
    form.SetText(Control::FileEdit, image_path);
    testing::FastTicker ticker(shared.clock);
    return RunTransfer(TransferKind::kUploadImage, form, shared).outcome;
  }

  void HaltOn(const std::string& trigger) {
    form.On(trigger, [this] { shared.HaltRequested.store(1); });
  }
  std::string Field(Control control) { return form.ReadText(control); }
  Lines Body() { return BodyLines(form.Log()); }
  Bytes MemoryAt(std::size_t offset, std::size_t size) {
    const Bytes memory = sim.Memory();
    if (memory.size() < offset + size) return {};
    return Bytes(memory.begin() + static_cast<std::ptrdiff_t>(offset),
                 memory.begin() + static_cast<std::ptrdiff_t>(offset + size));
  }

  ZarqSimulator sim;
  TriggerForm form;
  SharedState shared;
  std::string image_path;
};

// 300000 bytes: two erase regions, a leading blank block, a gap at blocks 300 and 301, and a
// final part of 96 bytes.
Bytes ImageWithGaps() {
  Bytes image = Pattern(300000);
  Blank(image, 1);
  Blank(image, 300);
  Blank(image, 301);
  return image;
}

class CompleteUpload : public ::testing::TestWithParam<const char*> {};

TEST_P(CompleteUpload, PutsTheImageAtItsAddressWithTheFramesAndLogOfTheDialogue) {
  const std::string device_type = GetParam();
  const bool zarqx = device_type == "ZARQX";
  const Bytes image = ImageWithGaps();
  UploadRun run(image);
  run.form.SetText(Control::DeviceTypeCombo, device_type);
  run.form.SetText(Control::ResponseDelayEdit, "25");
  ASSERT_EQ(run.Run(), TransferOutcome::kComplete);

  EXPECT_EQ(run.MemoryAt(kImageOffset, image.size()), image);
  EXPECT_EQ(run.MemoryAt(kImageOffset + image.size(), 32), Bytes(32, 0xFF)) << "padding";
  EXPECT_EQ(run.MemoryAt(kImageOffset - kBlockSize, kBlockSize), Bytes(kBlockSize, 0xFF));

  Lines wire;
  if (!zarqx) wire = {"A 2000", "E 2000", "E 4000"};
  wire.push_back("A 2008");
  AddPackets(wire, 2, 299);
  wire.push_back("A 2968");  // 0x2000 + 8 * 301
  AddPackets(wire, 302, 2344);
  wire.insert(wire.end(), {"EOT", "EOT"});
  EXPECT_EQ(Wire(run.sim.Frames()), wire);

  Lines log = {"Starting",
               "Time: hh:mm:ss",
               "Response Delay set to 25 ms",
               "Opening Port " + run.sim.PortPath() + " . . . Opened",
               "Opening File " + run.image_path + " . . . Opened",
               kWaiting + "NAK detected"};
  if (!zarqx) {
    log.insert(log.end(),
               {"Initializing Address . . . Acknowledged", "Erasing Existing Application",
                "Erasing 0x2000 . . . Done", "Erasing 0x4000 . . . Done"});
  }
  log.insert(log.end(), {"Starting Programming", "Skipping to Address 0x2008 . . . Acknowledged",
                         "Skipping to Address 0x2968 . . . Acknowledged", "Programming Complete",
                         "3 Unused Blocks Skipped", "Sending EOT", "Closing Port", "Time: hh:mm:ss",
                         "Elapsed: mm:ss"});
  const std::string times = std::regex_replace(
      std::regex_replace(run.form.Log(), std::regex("Time: \\d\\d:\\d\\d:\\d\\d\r\n"),
                         "Time: hh:mm:ss\r\n"),
      std::regex("Elapsed: \\d\\d:\\d\\d\r\n"), "Elapsed: mm:ss\r\n");
  EXPECT_EQ(SplitLines(times), log);

  // The final block is padded to a whole one and summed with its padding.
  const unsigned sum = std::accumulate(image.begin(), image.end(), 32u * 0xFF);
  EXPECT_EQ(run.Field(Control::BlockField), "2344 / 2344");
  EXPECT_EQ(run.Field(Control::AddressField), "6938");  // 0x2000 + 8 * 2343
  EXPECT_EQ(run.Field(Control::ChecksumField), Hex(sum & 0xFFFF));
  EXPECT_EQ(run.Field(Control::ErrorsField), "0");
}

INSTANTIATE_TEST_SUITE_P(DeviceTypes, CompleteUpload, ::testing::Values("ZARQ 40 - 580", "ZARQX"));

TEST(UploadImage, PadsAShortFinalPartWithErasedBytes) {
  const Bytes image = Pattern(1000);
  UploadRun run(image);
  ASSERT_EQ(run.Run(), TransferOutcome::kComplete);

  const std::vector<ReceivedFrame> frames = run.sim.Frames();
  ASSERT_EQ(Wire(frames),
            (Lines{"A 2000", "#1", "#2", "#3", "#4", "#5", "#6", "#7", "#8", "EOT", "EOT"}));
  const Bytes& last = frames[8].bytes;
  ASSERT_EQ(last.size(), kDataPacketSize);
  EXPECT_EQ(Bytes(last.begin() + 3, last.begin() + 3 + 104),
            Bytes(image.begin() + 896, image.end()));
  EXPECT_EQ(Bytes(last.begin() + 3 + 104, last.end() - 1), Bytes(24, 0xFF));
  EXPECT_EQ(run.Field(Control::BlockField), "8 / 8");
  // Less than one erase region: the erase line stands alone.
  EXPECT_EQ(run.Body(), (Lines{kWaiting + "NAK detected", "Initializing Address . . . Acknowledged",
                               "Erasing Existing Application", "Starting Programming",
                               "Programming Complete", "0 Unused Blocks Skipped", "Sending EOT"}));
  EXPECT_EQ(run.MemoryAt(kImageOffset, image.size()), image);
}

TEST(UploadImage, RetriesARefusedBlockWithTheSameNumberUntilItIsTaken) {
  const Bytes image = Pattern(120 * kBlockSize);
  SimulatorOptions options;
  options.refuse_block = 5;
  options.refuse_times = 3;
  UploadRun run(image, options);
  run.form.SetText(Control::DeviceTypeCombo, "ZARQX");
  ASSERT_EQ(run.Run(), TransferOutcome::kComplete);

  Lines wire;
  AddPackets(wire, 1, 4);
  wire.insert(wire.end(), {"#5 refused", "#5 refused", "#5 refused"});
  AddPackets(wire, 5, 120);
  wire.insert(wire.end(), {"EOT", "EOT"});
  EXPECT_EQ(Wire(run.sim.Frames()), wire);
  const std::string retry = "Error on Block 5 / 120 . . . Retrying";
  EXPECT_EQ(run.Body(),
            (Lines{kWaiting + "NAK detected", "Starting Programming", retry, retry, retry,
                   "Programming Complete", "0 Unused Blocks Skipped", "Sending EOT"}));
  EXPECT_EQ(run.Field(Control::ErrorsField), "3");
  EXPECT_EQ(run.MemoryAt(kImageOffset, image.size()), image);
}

// The largest image fills the 16-bit address range to its last unit without wrapping round.
TEST(UploadImage, TakesAnImageUpToTheTopOfTheAddressRange) {
  Bytes image = Pattern(917504);
  for (std::size_t block = 3; block <= 7166; ++block) Blank(image, block);
  UploadRun run(image);
  ASSERT_EQ(run.Run(), TransferOutcome::kComplete);

  Lines wire = {"A 2000"};
  for (unsigned region = 0x2000; region < 0x10000; region += 0x2000)
    wire.push_back("E " + Hex(region));
  wire.insert(wire.end(), {"#1", "#2", "A FFF0", "#255", "#0", "EOT", "EOT"});
  EXPECT_EQ(Wire(run.sim.Frames()), wire);
  EXPECT_EQ(run.Field(Control::BlockField), "7168 / 7168");
  EXPECT_EQ(run.Field(Control::AddressField), "FFF8");
  EXPECT_EQ(run.MemoryAt(kImageOffset, image.size()), image);
  EXPECT_EQ(run.MemoryAt(0, kImageOffset), Bytes(kImageOffset, 0xFF)) << "low memory written";
}

TEST(UploadImage, RefusesAnImageBeyondTheAddressRangeBeforeSendingAnything) {
  UploadRun run(Pattern(917505));
  EXPECT_EQ(run.Run(), TransferOutcome::kFailed);
  EXPECT_EQ(run.Body(), (Lines{"Image of 917505 bytes is larger than the 917504 bytes the device "
                               "can take. Aborting Programming"}));
  EXPECT_EQ(Wire(run.sim.Frames()), Lines{});
}

TEST(UploadImage, EndsWithoutEotWhenTheImageCannotBeReadToItsEnd) {
  UploadRun run(Pattern(4 * kBlockSize));
  run.form.SetText(Control::DeviceTypeCombo, "ZARQX");
  run.form.On("2 / 4", [&] { BreakOpenImage(run.image_path); });
  EXPECT_EQ(run.Run(), TransferOutcome::kFailed);
  EXPECT_EQ(run.Body(),
            (Lines{kWaiting + "NAK detected", "Starting Programming",
                   "Error reading the image file after block 2 / 4. Aborting Programming"}));
  EXPECT_EQ(Wire(run.sim.Frames()), (Lines{"#1", "#2"}));
}

TEST(UploadImage, StopsWhenTheLineIsGone) {
  SimulatorOptions options;
  options.hang_up_after_blocks = 2;
  const Bytes image = Pattern(5 * kBlockSize);
  UploadRun run(image, options);
  run.form.SetText(Control::DeviceTypeCombo, "ZARQX");
  EXPECT_EQ(run.Run(), TransferOutcome::kFailed);
  // The packet that met the hang-up got no reply, and nothing more can cross the line.
  EXPECT_EQ(run.Body(), (Lines{kWaiting + "NAK detected", "Starting Programming",
                               "Incomplete Response from ZARQ (Block 3, 0 Bytes)",
                               "Lost the port " + run.sim.PortPath() + ". Aborting Programming"}));
  EXPECT_EQ(Wire(run.sim.Frames()), (Lines{"#1", "#2"}));
  EXPECT_EQ(run.MemoryAt(kImageOffset, 2 * kBlockSize), Bytes(image.begin(), image.begin() + 256));
}

TEST(UploadImage, StopsWaitingForTheLoaderWhenTheLineIsGone) {
  SimulatorOptions options;
  options.silent = true;
  UploadRun run(Pattern(kBlockSize), options);
  run.form.On(kWaiting, [&] { run.sim.Stop(); });
  EXPECT_EQ(run.Run(), TransferOutcome::kFailed);
  EXPECT_EQ(run.Body(), (Lines{kWaiting + "no response",
                               "Lost the port " + run.sim.PortPath() + ". Aborting Programming"}));
}

// Every way the body can end, with the lines it wrote and the frames the device received.
TEST(UploadImage, EndsEachWayWithItsLinesAndFrames) {
  enum class Image { kFourBlocks, kLeadingBlank, kTwoRegions };
  struct Case {
    const char* what = "";
    SimulatorOptions options{};
    std::string device_type = "ZARQX";
    std::string start_address = "0x2000";
    Image image = Image::kFourBlocks;
    std::string halt_on{};  // empty: no halt
    TransferOutcome outcome = TransferOutcome::kComplete;
    Lines body{};
    Lines wire{};
  };
  const std::string nak = kWaiting + "NAK detected";
  const std::string address = "Initializing Address . . . Acknowledged";
  const std::string erase = "Erasing Existing Application";
  const std::string start = "Starting Programming";
  const std::string refused_address =
      "Initializing Address . . . This version of Kelvo does not recognize addresses other "
      "than 0x2000";
  const std::string abort = "Aborting Programming";
  const std::string other = "ZARQ 40 - 580";
  const auto halted = TransferOutcome::kHalted;
  const auto failed = TransferOutcome::kFailed;
  const auto complete = TransferOutcome::kComplete;
  const Lines end = {"Programming Complete", "0 Unused Blocks Skipped", "Sending EOT"};
  const auto then = [](Lines lines, const Lines& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
  };
  const Case cases[] = {
      {.what = "halted while no device answers",
       .options = {.silent = true},
       .halt_on = "no response",
       .outcome = halted,
       .body = {kWaiting + "no response"}},
      // Only the last byte of the wait counts: a stray byte that silence follows is no answer.
      {.what = "stray letter at the start",
       .options = {.handshake_byte = 'X'},
       .halt_on = "no response",
       .outcome = halted,
       .body = {kWaiting + "no response"}},
      {.what = "halted after the NAK", .halt_on = "NAK detected", .outcome = halted, .body = {nak}},
      {.what = "data stream at the start",
       .options = {.babble = true},
       .outcome = failed,
       .body = {kWaiting + "unexpected data stream detected"}},
      {.what = "ACK at the start",
       .options = {.handshake_byte = kAck},
       .outcome = failed,
       .body = {kWaiting + "unexpected character detected"}},
      {.what = "start address in another case",
       .device_type = other,
       .start_address = "0X2000",
       .outcome = failed,
       .body = {nak, refused_address, abort}},
      {.what = "trailing blank, device type in lower case",
       .device_type = "zarqx",
       .start_address = "0x2000 ",
       .outcome = failed,
       .body = {nak, refused_address, abort}},
      {.what = "ZARQX ignores the start address",
       .start_address = "0x4000",
       .outcome = complete,
       .body = then({nak, start}, end),
       .wire = {"#1", "#2", "#3", "#4", "EOT", "EOT"}},
      {.what = "address command refused",
       .options = {.refuse_command = SetAddressCommand},
       .device_type = other,
       .outcome = failed,
       .body = {nak, "Initializing Address . . . Failed"},
       .wire = {"A 2000 refused"}},
      {.what = "halted after the address command",
       .device_type = other,
       .halt_on = "Acknowledged",
       .outcome = halted,
       .body = {nak, address},
       .wire = {"A 2000"}},
      {.what = "erase refused",
       .options = {.refuse_command = EraseCommand},
       .device_type = other,
       .image = Image::kTwoRegions,
       .outcome = failed,
       .body = {nak, address, erase, "Erasing 0x2000 . . . Failed"},
       .wire = {"A 2000", "E 2000 refused"}},
      {.what = "halted during the erase",
       .device_type = other,
       .image = Image::kTwoRegions,
       .halt_on = "Done",
       .outcome = halted,
       .body = {nak, address, erase, "Erasing 0x2000 . . . Done"},
       .wire = {"A 2000", "E 2000"}},
      {.what = "re-addressing after a gap refused",
       .options = {.refuse_command = SetAddressCommand},
       .image = Image::kLeadingBlank,
       .outcome = failed,
       .body = {nak, start, "Skipping to Address 0x2008 . . . Failed.  Programming Aborting."},
       .wire = {"A 2008 refused"}},
      {.what = "halted while retrying a block",
       .options = {.refuse_block = 3, .refuse_times = 1000},
       .halt_on = "Error on Block 3 / 4 . . . Retrying",
       .outcome = halted,
       .body = {nak, start, "Error on Block 3 / 4 . . . Retrying"},
       .wire = {"#1", "#2", "#3 refused"}},
      {.what = "halted between blocks",
       .halt_on = "2 / 4",
       .outcome = halted,
       .body = {nak, start},
       .wire = {"#1", "#2"}},
      {.what = "halted while the last block goes out",
       .halt_on = "4 / 4",
       .outcome = halted,
       .body = {nak, start},
       .wire = {"#1", "#2", "#3", "#4"}},
      {.what = "short replies and noise before each ACK",
       .options = {.short_reply = 1, .noise_before_ack = 2},
       .device_type = other,
       .outcome = complete,
       .body = then({nak, address, erase, start, "Incomplete Response from ZARQ (Block 1, 1 Bytes)",
                     "Incomplete Response from ZARQ (Block 2, 1 Bytes)",
                     "Incomplete Response from ZARQ (Block 3, 1 Bytes)",
                     "Incomplete Response from ZARQ (Block 4, 1 Bytes)"},
                    end),
       .wire = {"A 2000", "#1", "#2", "#3", "#4", "EOT", "EOT"}},
  };

  Bytes four_blocks = Pattern(4 * kBlockSize);
  Bytes leading_blank = four_blocks;
  Blank(leading_blank, 1);
  const Bytes images[] = {four_blocks, leading_blank, Pattern(300000)};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UploadRun run(images[static_cast<int>(c.image)], c.options);
    run.form.SetText(Control::DeviceTypeCombo, c.device_type);
    run.form.SetText(Control::StartAddressCombo, c.start_address);
    if (!c.halt_on.empty()) run.HaltOn(c.halt_on);
    EXPECT_EQ(run.Run(), c.outcome);
    EXPECT_EQ(run.Body(), c.body);
    EXPECT_EQ(Wire(run.sim.Frames()), c.wire);
    EXPECT_EQ(run.sim.EotCount(), c.outcome == complete ? 2 : 0);
  }
}

}  // namespace
}  // namespace kelvo

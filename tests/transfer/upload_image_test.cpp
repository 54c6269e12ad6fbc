#include "transfer/upload_image.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "serial/protocol.h"
#include "simulator/zarq_simulator.h"
#include "support/fast_ticker.h"
#include "support/modelled_uart.h"
#include "support/phased_ticker.h"
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
const std::string kNakLine = kWaiting + "NAK detected";
const std::string kAddressLine = "Initializing Address . . . Acknowledged";
const std::string kEraseLine = "Erasing Existing Application";
const std::string kStartLine = "Starting Programming";
const Lines kEndLines = {"Programming Complete", "0 Unused Blocks Skipped", "Sending EOT"};

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

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Packets from first to last wire number, one each, numbered modulo 256.
Lines Packets(unsigned first, unsigned last) {
  Lines packets;
  for (unsigned n = first; n <= last; ++n) packets.push_back("#" + std::to_string(n % 256));
  return packets;
}

// The frames the device received, one short text each: "A 2008" and "E 4000" for commands,
// "#5" for a packet (the number on the wire), "EOT"; " refused" when not answered with ACK.
Lines Wire(const std::vector<ReceivedFrame>& frames) {
  using Kind = ReceivedFrame::Kind;
  Lines wire;
  for (const ReceivedFrame& f : frames) {
    const std::string text = f.kind == Kind::kCommand
                                 ? std::string(1, static_cast<char>(f.bytes[1])) + " " +
                                       Hex(f.bytes[3] | f.bytes[4] << 8)
                             : f.kind == Kind::kPacket ? "#" + std::to_string(f.bytes[1])
                             : f.kind == Kind::kEot    ? "EOT"
                                                       : "other " + Hex(f.bytes.at(0));
    wire.push_back(text + (f.accepted ? "" : " refused"));
  }
  return wire;
}

Lines SplitLines(const std::string& log) {
  Lines lines;
  std::size_t start = 0;
  for (std::size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(log.substr(start, end - start));
  if (start < log.size()) lines.push_back(log.substr(start) + " <no line end>");
  return lines;
}

// The lines the body wrote: after the file line, before "Closing Port".
Lines BodyLines(const std::string& log) {
  const Lines lines = SplitLines(log);
  const auto file = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.starts_with("Opening File ");
  });
  const auto closing = std::find(file, lines.end(), "Closing Port");
  if (closing == lines.end()) return {"<no body in>", log};
  return Lines(file + 1, closing);
}

// The in-memory form that shows the test every text it is given: a log line, an appended piece
// or a field's whole text.
struct WatchedForm : MemoryForm {
  void SetText(Control control, const std::string& text) override {
    MemoryForm::SetText(control, text);
    if (watch) watch(text);
  }
  void LogAppend(const std::string& text) override {
    MemoryForm::LogAppend(text);
    if (watch) watch(text);
  }
  void LogLine(const std::string& text) override {
    MemoryForm::LogLine(text);
    if (watch) watch(text);
  }
  std::function<void(const std::string&)> watch;
};

// Puts a directory behind the image file's open descriptor, so the next read of it fails.
void BreakOpenImage(const std::string& path) {
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error) != fs::path(path)) continue;
    const int directory = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::dup2(directory, std::stoi(entry.path().filename().string()));
    ::close(directory);
  }
}

// One upload through the whole transfer against the simulator, its clock driven fast.
struct UploadRun {
  explicit UploadRun(const Bytes& image, SimulatorOptions options = {},
                     const std::string& device_type = "ZARQ 40 - 580",
                     const std::string& start_address = "0x2000")
      : sim(options) {
    std::ofstream(image_path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    form.SetText(Control::DeviceTypeCombo, device_type);
    form.SetText(Control::StartAddressCombo, start_address);
  }
  ~UploadRun() { fs::remove(image_path); }

  TransferOutcome Run() {
    testing::FastTicker ticker(shared.clock);
    return Transfer({});
  }
  // Over a modelled UART, with the clock at real speed and each wait's first tick phase(n) ms
  // in. An upload that cannot end is halted after a while.
  TransferOutcome RunOverUart(testing::ModelledUart& uart, testing::PhasedTicker::Phase phase) {
    std::atomic<bool> ended{false};
    std::thread guard([&] {
      const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (!ended.load() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      shared.HaltRequested.store(1);
    });
    testing::PhasedTicker ticker(shared.clock, std::move(phase));
    const TransferOutcome outcome = Transfer({.driver = &uart});
    ended.store(true);
    guard.join();
    return outcome;
  }
  TransferOutcome Transfer(const TransferHooks& hooks) {
    EXPECT_TRUE(sim.IsRunning());
    form.SetText(Control::PortCombo, sim.PortPath());
    form.SetText(Control::FileEdit, image_path);
    return RunTransfer(TransferKind::kUploadImage, form, shared, hooks).outcome;
  }
  Bytes MemoryAt(std::size_t offset, std::size_t size) {
    const Bytes memory = sim.Memory();
    const auto first = memory.begin() + static_cast<std::ptrdiff_t>(offset);
    return Bytes(first, first + static_cast<std::ptrdiff_t>(size));
  }

  ZarqSimulator sim;
  WatchedForm form;
  SharedState shared;
  const std::string image_path = ::testing::TempDir() + "kelvo-image-" + std::to_string(::getpid());
};

class CompleteUpload : public ::testing::TestWithParam<const char*> {};

TEST_P(CompleteUpload, PutsTheImageAtItsAddressWithTheFramesAndLogOfTheDialogue) {
  const bool zarqx = std::string(GetParam()) == "ZARQX";
  // Two erase regions, a leading blank block, a gap at blocks 300 and 301, a final part of 96.
  Bytes image = Pattern(300000);
  for (std::size_t block : {1, 300, 301}) Blank(image, block);
  UploadRun run(image, {}, GetParam(), zarqx ? "0x4000" : "0x2000");  // a ZARQX ignores it
  run.form.SetText(Control::ResponseDelayEdit, "25");
  ASSERT_EQ(run.Run(), TransferOutcome::kComplete);

  EXPECT_EQ(run.MemoryAt(kImageOffset, image.size()), image);
  const Lines set_up = zarqx ? Lines{} : Lines{"A 2000", "E 2000", "E 4000"};
  EXPECT_EQ(
      Wire(run.sim.Frames()),
      Join({set_up, {"A 2008"}, Packets(2, 299), {"A 2968"}, Packets(302, 2344), {"EOT", "EOT"}}));
  const Lines log =
      Join({{"Starting", "Time: T", "Response Delay set to 25 ms",
             "Opening Port " + run.sim.PortPath() + " . . . Opened",
             "Opening File " + run.image_path + " . . . Opened", kNakLine},
            zarqx ? Lines{}
                  : Lines{kAddressLine, kEraseLine, "Erasing 0x2000 . . . Done",
                          "Erasing 0x4000 . . . Done"},
            {kStartLine, "Skipping to Address 0x2008 . . . Acknowledged",
             "Skipping to Address 0x2968 . . . Acknowledged", "Programming Complete",
             "3 Unused Blocks Skipped", "Sending EOT", "Closing Port", "Time: T", "Elapsed: T"}});
  const std::regex times("(Time: )\\d\\d:\\d\\d:\\d\\d\r\n|(Elapsed: )\\d\\d:\\d\\d\r\n");
  EXPECT_EQ(SplitLines(std::regex_replace(run.form.Log(), times, "$1$2T\r\n")), log);

  // The final block is padded with 0xFF to a whole one and summed with its padding.
  const unsigned sum = std::accumulate(image.begin(), image.end(), 32u * 0xFF);
  EXPECT_EQ(run.form.ReadText(Control::BlockField), "2344 / 2344");
  EXPECT_EQ(run.form.ReadText(Control::AddressField), "6938");  // 0x2000 + 8 * 2343
  EXPECT_EQ(run.form.ReadText(Control::ChecksumField), Hex(sum & 0xFFFF));
  EXPECT_EQ(run.form.ReadText(Control::ErrorsField), "0");
}

INSTANTIATE_TEST_SUITE_P(DeviceTypes, CompleteUpload, ::testing::Values("ZARQ 40 - 580", "ZARQX"));

TEST(UploadImage, PadsAShortFinalPartWithErasedBytesAndSendsNoBytesAddedMeanwhile) {
  const Bytes image = Pattern(1000);
  UploadRun run(image);
  run.form.watch = [&](const std::string& text) {
    if (text == "1 / 8") std::ofstream(run.image_path, std::ios::app) << std::string(2000, 'x');
  };
  ASSERT_EQ(run.Run(), TransferOutcome::kComplete);

  const std::vector<ReceivedFrame> frames = run.sim.Frames();
  ASSERT_EQ(Wire(frames), Join({{"A 2000"}, Packets(1, 8), {"EOT", "EOT"}}));
  const Bytes& last = frames[8].bytes;
  EXPECT_EQ(Bytes(last.begin() + 3, last.begin() + 107), Bytes(image.begin() + 896, image.end()));
  EXPECT_EQ(Bytes(last.begin() + 107, last.end() - 1), Bytes(24, 0xFF));
  EXPECT_EQ(run.form.ReadText(Control::BlockField), "8 / 8");
  // Less than one erase region: the erase line stands alone.
  EXPECT_EQ(BodyLines(run.form.Log()),
            Join({{kNakLine, kAddressLine, kEraseLine, kStartLine}, kEndLines}));
}

TEST(UploadImage, RetriesARefusedBlockWithTheSameNumberUntilItIsTaken) {
  const Bytes image = Pattern(120 * kBlockSize);
  UploadRun run(image, {.refuse_block = 5, .refuse_times = 3}, "ZARQX");
  ASSERT_EQ(run.Run(), TransferOutcome::kComplete);

  const Lines refusals = {"#5 refused", "#5 refused", "#5 refused"};
  EXPECT_EQ(Wire(run.sim.Frames()),
            Join({Packets(1, 4), refusals, Packets(5, 120), {"EOT", "EOT"}}));
  const std::string retry = "Error on Block 5 / 120 . . . Retrying";
  EXPECT_EQ(BodyLines(run.form.Log()),
            Join({{kNakLine, kStartLine, retry, retry, retry}, kEndLines}));
  EXPECT_EQ(run.form.ReadText(Control::ErrorsField), "3");
  EXPECT_EQ(run.MemoryAt(kImageOffset, image.size()), image);
}

// The largest image fills the 16-bit address range to its last unit without wrapping round.
TEST(UploadImage, TakesAnImageUpToTheTopOfTheAddressRange) {
  Bytes image = Pattern(917504);
  for (std::size_t block = 3; block <= 7166; ++block) Blank(image, block);
  UploadRun run(image);
  ASSERT_EQ(run.Run(), TransferOutcome::kComplete);

  EXPECT_EQ(Wire(run.sim.Frames()),
            (Lines{"A 2000", "E 2000", "E 4000", "E 6000", "E 8000", "E A000", "E C000", "E E000",
                   "#1", "#2", "A FFF0", "#255", "#0", "EOT", "EOT"}));
  EXPECT_EQ(run.form.ReadText(Control::BlockField), "7168 / 7168");
  EXPECT_EQ(run.form.ReadText(Control::AddressField), "FFF8");
  EXPECT_EQ(run.MemoryAt(kImageOffset, image.size()), image);
  EXPECT_EQ(run.MemoryAt(0, kImageOffset), Bytes(kImageOffset, 0xFF)) << "low memory written";
}

// At 9600 baud a packet takes 137.5 ms to leave and its reply 138.5 ms more: the reply is in
// 276 ms after the write began. The write lasts until the packet has left, the response delay
// lasts at least its length less one 50 ms step, and the read 134 ms. Both cases run over a
// modelled UART to the device at line speed.
TEST(UploadImageOverAUart, ADelayOf100TakesEveryReplyWhereverTheClockTicks) {
  const Bytes image = Pattern(6 * kBlockSize);
  UploadRun run(image, {.paced = true}, "ZARQX");
  run.form.SetText(Control::ResponseDelayEdit, "100");
  testing::ModelledUart uart({});
  // Every wait as short as the clock allows: 137.5 + 50 + 134 ms is still past 276.
  ASSERT_EQ(run.RunOverUart(uart, [](int) { return std::chrono::milliseconds(0); }),
            TransferOutcome::kComplete);
  EXPECT_EQ(BodyLines(run.form.Log()), Join({{kNakLine, kStartLine}, kEndLines}));
  EXPECT_EQ(Wire(run.sim.Frames()), Join({Packets(1, 6), {"EOT", "EOT"}}));
  EXPECT_EQ(run.MemoryAt(kImageOffset, image.size()), image);
}

TEST(UploadImageOverAUart, ADelayOf50LosesTheReplyWhenTheClockTicksAtOnceAndTheRetryTakesIt) {
  const Bytes image = Pattern(3 * kBlockSize);
  UploadRun run(image, {.paced = true}, "ZARQX");
  run.form.SetText(Control::ResponseDelayEdit, "50");
  testing::ModelledUart uart({});
  // The handshake's wait, then each packet's in turn: late, at once, late, ... A reply read
  // from 137.5 ms to 271.5 ms lacks its last bytes, ACK among them.
  const auto phase = [](int wait) { return std::chrono::milliseconds(wait % 2 == 0 ? 50 : 0); };
  ASSERT_EQ(run.RunOverUart(uart, phase), TransferOutcome::kComplete);
  Lines body = {kNakLine, kStartLine};
  for (int block = 1; block <= 3; ++block) {
    body.push_back("Incomplete Response from ZARQ (Block " + std::to_string(block) + ", n Bytes)");
    body.push_back("Error on Block " + std::to_string(block) + " / 3 . . . Retrying");
  }
  EXPECT_EQ(BodyLines(std::regex_replace(run.form.Log(), std::regex("\\d+ Bytes"), "n Bytes")),
            Join({body, kEndLines}));
  // The device took each block the first time; the repeat it acknowledges without storing.
  EXPECT_EQ(Wire(run.sim.Frames()), Join({{"#1", "#1", "#2", "#2", "#3", "#3", "EOT", "EOT"}}));
  EXPECT_EQ(run.MemoryAt(kImageOffset, image.size()), image);
}

// Every way the body can end short of completion, with the lines it wrote and the frames the
// device received. A halt ends as halted, anything else as failed; none sends EOT.
TEST(UploadImage, EndsEachWayWithItsLinesAndFrames) {
  struct Case {
    const char* what = "";
    SimulatorOptions options{};
    std::string device_type = "ZARQX";
    std::string start_address = "0x2000";
    Bytes image = Pattern(4 * kBlockSize);
    // The texts at which Halt is pressed, the image file breaks, the device hangs up.
    std::optional<std::string> halt_on{}, break_on{}, stop_on{};
    Lines body{};  // "{port}" stands for the port's path
    Lines wire{};
  };
  Bytes leading_blank = Pattern(4 * kBlockSize);
  Blank(leading_blank, 1);
  const std::string other = "ZARQ 40 - 580";
  const std::string odd_address =
      "Initializing Address . . . This version of Kelvo does not recognize addresses other "
      "than 0x2000";
  const std::string lost = "Lost the port {port}. Aborting Programming";
  const Case cases[] = {
      {.what = "halted after the NAK", .halt_on = "NAK detected", .body = {kNakLine}},
      {.what = "data stream at the start",
       .options = {.babble = true},
       .body = {kWaiting + "unexpected data stream detected"}},
      {.what = "start address in another case",
       .device_type = other,
       .start_address = "0X2000",
       .body = {kNakLine, odd_address, "Aborting Programming"}},
      {.what = "trailing blank, device type in lower case",
       .device_type = "zarqx",
       .start_address = "0x2000 ",
       .body = {kNakLine, odd_address, "Aborting Programming"}},
      {.what = "address command refused",
       .options = {.refuse_command = SetAddressCommand},
       .device_type = other,
       .body = {kNakLine, "Initializing Address . . . Failed"},
       .wire = {"A 2000 refused"}},
      {.what = "halted after the address command",
       .device_type = other,
       .halt_on = "Acknowledged",
       .body = {kNakLine, kAddressLine},
       .wire = {"A 2000"}},
      {.what = "erase refused",
       .options = {.refuse_command = EraseCommand},
       .device_type = other,
       .image = Pattern(300000),
       .body = {kNakLine, kAddressLine, kEraseLine, "Erasing 0x2000 . . . Failed"},
       .wire = {"A 2000", "E 2000 refused"}},
      {.what = "halted during the erase",
       .device_type = other,
       .image = Pattern(300000),
       .halt_on = "Done",
       .body = {kNakLine, kAddressLine, kEraseLine, "Erasing 0x2000 . . . Done"},
       .wire = {"A 2000", "E 2000"}},
      {.what = "re-addressing after a gap refused",
       .options = {.refuse_command = SetAddressCommand},
       .image = leading_blank,
       .body = {kNakLine, kStartLine,
                "Skipping to Address 0x2008 . . . Failed.  Programming Aborting."},
       .wire = {"A 2008 refused"}},
      {.what = "halted while retrying a block",
       .options = {.refuse_block = 3, .refuse_times = 1000},
       .halt_on = "Error on Block 3 / 4 . . . Retrying",
       .body = {kNakLine, kStartLine, "Error on Block 3 / 4 . . . Retrying"},
       .wire = {"#1", "#2", "#3 refused"}},
      // Noticed only once the block is handled, so there is no "Programming Complete".
      {.what = "halted while the last block goes out",
       .halt_on = "4 / 4",
       .body = {kNakLine, kStartLine},
       .wire = {"#1", "#2", "#3", "#4"}},
      {.what = "image beyond the address range, refused before anything is sent",
       .image = Pattern(917505),
       .body = {"Image of 917505 bytes is larger than the 917504 bytes the device can take. "
                "Aborting Programming"}},
      {.what = "image unreadable halfway",
       .break_on = "2 / 4",
       .body = {kNakLine, kStartLine,
                "Error reading the image file after block 2 / 4. Aborting Programming"},
       .wire = {"#1", "#2"}},
      // The packet that met the hang-up got no reply, and nothing more can cross the line.
      {.what = "line gone while programming",
       .options = {.hang_up_after_blocks = 2},
       .body = {kNakLine, kStartLine, "Incomplete Response from ZARQ (Block 3, 0 Bytes)", lost},
       .wire = {"#1", "#2"}},
      {.what = "line gone while waiting for the loader",
       .options = {.silent = true},
       .stop_on = kWaiting,
       .body = {kWaiting + "no response", lost}},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UploadRun run(c.image, c.options, c.device_type, c.start_address);
    run.form.watch = [&](const std::string& text) {
      if (c.halt_on == text) run.shared.HaltRequested.store(1);
      if (c.break_on == text) BreakOpenImage(run.image_path);
      if (c.stop_on == text) run.sim.Stop();
    };
    EXPECT_EQ(run.Run(), c.halt_on ? TransferOutcome::kHalted : TransferOutcome::kFailed);
    EXPECT_EQ(
        BodyLines(std::regex_replace(run.form.Log(), std::regex(run.sim.PortPath()), "{port}")),
        c.body);
    EXPECT_EQ(Wire(run.sim.Frames()), c.wire);
  }
}

}  // namespace
}  // namespace kelvo

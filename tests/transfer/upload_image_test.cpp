#include "transfer/upload_image.h"

#include <gtest/gtest.h>

#include <fstream>
#include <numeric>
#include <optional>

#include "doubles/line_doubles.h"
#include "doubles/temp_folder.h"
#include "support/record_files.h"
#include "support/transfer_run.h"

namespace kelvo {
namespace {

using testing::Blank, testing::Body, testing::Bytes, testing::Lines, testing::Pattern,
    testing::Text, testing::Wire;

const std::string kWaiting = "Waiting for Initial NAK . . . ";
const std::string kNakLine = kWaiting + "NAK detected";
const std::string kAddressLine = "Initializing Address . . . Acknowledged";
const std::string kEraseLine = "Erasing Existing Application";
const std::string kStartLine = "Starting Programming";
const Lines kEndLines = {"Programming Complete", "0 Unused Blocks Skipped", "Sending EOT"};

struct UploadRun : testing::TransferRun {
  explicit UploadRun(const Bytes& image, SimulatorOptions options = {},
                     const std::string& device_type = "ZARQ 40 - 580",
                     const std::string& start_address = "0x2000", const std::string& suffix = "")
      : sim(options), image_path((folder.Path() / ("image" + suffix)).string()) {
    testing::WriteFileBytes(image_path, image);
    form.SetText(Control::DeviceTypeCombo, device_type);
    form.SetText(Control::StartAddressCombo, start_address);
  }
  TransferOutcome Run(const TransferHooks& hooks = {}, testing::FastTicker::Phase phase = {}) {
    return TransferRun::Run(TransferKind::kUploadImage, sim.PortPath(), image_path, hooks,
                            std::move(phase));
  }
  // The device's memory, or a board's, from the first load address on.
  Bytes Loaded(std::size_t size, const Bytes& board = {}) {
    const Bytes memory = board.empty() ? sim.Memory() : board;
    return Bytes(memory.begin() + 0x20000,
                 memory.begin() + 0x20000 + static_cast<std::ptrdiff_t>(size));
  }

  testing::TempFolder folder{"kelvo-upload"};
  ZarqSimulator sim;
  const std::string image_path;
};

// The image reaches the top of the 16-bit address range, past six whole erase regions, with a
// blank first block, a gap up to its last two blocks (whose numbers wrap round to 0 on the
// wire), a block refused three times, and a final part of 96 bytes, padded with 0xFF and summed
// with its padding. The file cut short while it goes out (a build writing the next image) changes
// nothing that is sent.
TEST(UploadImage, PutsTheImageAtItsAddressWithTheFramesLogAndFieldsOfTheDialogue) {
  const Bytes image = Blank(Blank(Pattern(917504 - 32), 1, 1), 3, 7166);
  UploadRun run(image, {.refuse_block = 2, .refuse_times = 3});
  run.form.watch = [&](Control, const std::string& text) {
    if (text == "1 / 7168") std::ofstream(run.image_path) << std::string(256, 'x');
  };
  ASSERT_EQ(run.Run(), TransferOutcome::kComplete);

  Bytes padded = image;
  padded.resize(917504, 0xFF);
  EXPECT_EQ(run.Loaded(padded.size()), padded);
  EXPECT_EQ(Wire(run.sim.Frames()),
            (Lines{"A 2000", "E 2000", "E 4000", "E 6000", "E 8000", "E A000", "E C000", "A 2008",
                   "#2 refused", "#2 refused", "#2 refused", "#2", "A FFF0", "#255", "#0", "EOT",
                   "EOT"}));
  const std::string retry = "Error on Block 2 / 7168 . . . Retrying";
  EXPECT_EQ(
      Body(run.form.Log()),
      Text({{kNakLine, kAddressLine, kEraseLine, "Erasing 0x2000 . . . Done",
             "Erasing 0x4000 . . . Done", "Erasing 0x6000 . . . Done", "Erasing 0x8000 . . . Done",
             "Erasing 0xA000 . . . Done", "Erasing 0xC000 . . . Done", kStartLine,
             "Skipping to Address 0x2008 . . . Acknowledged", retry, retry, retry,
             "Skipping to Address 0xFFF0 . . . Acknowledged", "Programming Complete",
             "7165 Unused Blocks Skipped", "Sending EOT"}}));
  EXPECT_EQ(run.form.ReadText(Control::AddressField), "FFF8");
  EXPECT_EQ(run.form.ReadText(Control::ChecksumField),
            Printf("%04X", std::accumulate(padded.begin(), padded.end(), 0u) & 0xFFFF));
  EXPECT_EQ(run.form.ReadText(Control::ErrorsField), "3");
}

// Each kind of line with the response delay the README gives for it, at the line's real rate:
// a packet's reply is all in 276 ms after its write began at 9600 baud, at once from a device
// with native USB. With the clock's first tick in each wait late (50 ms) and at once in turn,
// the delay takes every reply at the first try; 50 on a UART is too short, and the retry takes
// the reply (a late-waking machine may not need one, so retries are counted, not listed). The
// device acknowledges a repeat without storing it.
struct LineKind {
  const char* name;
  std::optional<testing::Driver> driver;  // none: the pseudo-terminal itself
  const char* delay;
  bool retries;
};

class UploadOverALine : public ::testing::TestWithParam<LineKind> {};

TEST_P(UploadOverALine, EachReplyComesWholeAtTheFirstTryWhenTheDelaySuitsTheLine) {
  const LineKind& kind = GetParam();
  const Bytes image = Pattern(3 * kBlockSize);
  const std::regex retry(R"(Incomplete Response from ZARQ \(Block (\d), \d+ Bytes\)\r\n)"
                         R"(Error on Block \1 / 3 \. \. \. Retrying\r\n)");
  const bool paced = kind.driver != testing::Driver::kCdcAcm;
  UploadRun run(image, {.paced = paced}, "ZARQX", "0x4000");  // a ZARQX ignores the address
  run.form.SetText(Control::ResponseDelayEdit, kind.delay);
  int texts = 0;  // an upload that cannot end is halted long after a sound one would have
  run.form.watch = [&](Control, const std::string&) {
    if (++texts == 100) run.shared.HaltRequested.store(1);
  };
  std::optional<testing::LineDouble> driver;
  if (kind.driver) driver.emplace(*kind.driver);
  ASSERT_EQ(run.Run({.driver = driver ? &*driver : nullptr},
                    [](int wait) { return std::chrono::milliseconds(wait % 2 == 0 ? 50 : 0); }),
            TransferOutcome::kComplete);
  const std::string body = Body(run.form.Log());
  const auto retries =
      std::distance(std::sregex_iterator(body.begin(), body.end(), retry), std::sregex_iterator());
  EXPECT_EQ(std::regex_replace(body, retry, ""), Text({{kNakLine, kStartLine}, kEndLines}));
  EXPECT_EQ(retries > 0, kind.retries);
  EXPECT_EQ(run.Loaded(image.size()), image);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, UploadOverALine,
    ::testing::Values(LineKind{"Uart16550", testing::Driver::kUart16550, "100", false},
                      LineKind{"Uart16550TooShort", testing::Driver::kUart16550, "50", true},
                      LineKind{"UsbAdapter", testing::Driver::kUsbAdapter, "100", false},
                      LineKind{"CdcAcm", testing::Driver::kCdcAcm, "0", false},
                      LineKind{"PseudoTerminal", std::nullopt, "200", false}),
    [](const auto& param) { return std::string(param.param.name); });

// Every way the body can end short of completion, with the lines it wrote and the frames the
// device received. A halt ends as halted, anything else as failed; none sends EOT.
TEST(UploadImage, EndsEachWayWithItsLinesAndFrames) {
  struct Case {
    SimulatorOptions options{};
    std::string device_type = "ZARQX";
    std::string start_address = "0x2000";
    Bytes image = Pattern(4 * kBlockSize);
    std::string suffix = "";  // of the image file's name
    // The texts at which Halt is pressed, the device hangs up.
    std::optional<std::string> halt_on{}, stop_on{};
    Lines body{}, wire{};  // "{port}" and "{file}" stand for the port's and the file's paths
  };
  const std::string other = "ZARQ 40 - 580";
  const std::string odd_address =
      "Initializing Address . . . This version of Kelvo does not recognize addresses other "
      "than 0x2000";
  const std::string lost = "Lost the port {port}. Aborting Programming";
  std::string records = testing::SRecordsOf(Pattern(4 * kBlockSize));
  records.insert(records.find("\r\nS3", records.find("\r\nS3") + 1) + 2, "S3G");
  const std::string hex = testing::HexRecord(4, 0, {0x00, 0x02}) + "\r\n" +
                          testing::HexRecord(0, 0, {1, 2, 3}) + "\r\n" +
                          testing::HexRecord(1, 0, {}) + "\r\n";
  const Case cases[] = {
      {.halt_on = "NAK detected", .body = {kNakLine}},  // halted after the NAK
      {.options = {.babble = true},                     // data stream at the start
       .body = {kWaiting + "unexpected data stream detected"}},
      {.device_type = other,  // start address in another case
       .start_address = "0X2000",
       .body = {kNakLine, odd_address, "Aborting Programming"}},
      {.device_type = "zarqx",  // trailing blank, device type in lower case
       .start_address = "0x2000 ",
       .body = {kNakLine, odd_address, "Aborting Programming"}},
      {.options = {.refuse_command = SetAddressCommand},  // address command refused
       .device_type = other,
       .body = {kNakLine, "Initializing Address . . . Failed"},
       .wire = {"A 2000 refused"}},
      {.device_type = other,  // halted after the address command
       .halt_on = "Acknowledged",
       .body = {kNakLine, kAddressLine},
       .wire = {"A 2000"}},
      {.options = {.refuse_command = EraseCommand},  // erase refused
       .device_type = other,
       .image = Pattern(300000),
       .body = {kNakLine, kAddressLine, kEraseLine, "Erasing 0x2000 . . . Failed"},
       .wire = {"A 2000", "E 2000 refused"}},
      {.device_type = other,  // halted during the erase
       .image = Pattern(300000),
       .halt_on = "Done",
       .body = {kNakLine, kAddressLine, kEraseLine, "Erasing 0x2000 . . . Done"},
       .wire = {"A 2000", "E 2000"}},
      {.options = {.refuse_command = SetAddressCommand},  // re-addressing after a gap refused
       .image = Blank(Pattern(4 * kBlockSize), 1, 1),
       .body = {kNakLine, kStartLine,
                "Skipping to Address 0x2008 . . . Failed.  Programming Aborting."},
       .wire = {"A 2008 refused"}},
      // Noticed only once the block is handled, so there is no "Programming Complete".
      {.halt_on = "4 / 4",  // halted while the last block goes out
       .body = {kNakLine, kStartLine},
       .wire = {"#1", "#2", "#3", "#4"}},
      // Refused before anything is sent.
      {.image = Pattern(917505),  // image beyond the address range
       .body = {"Image of 917505 bytes is larger than the 917504 bytes the device can take. "
                "Aborting Programming"}},
      {.image = Bytes(records.begin(), records.end()),  // a malformed record file
       .suffix = ".srec",
       .body = {"{file} line 3: 'G' at column 3 is not a hex digit. Aborting Programming"}},
      {.image = Bytes(hex.begin(), hex.end()),  // records in a file of another name
       .suffix = ".bin",
       .body = {"{file}: the file holds Intel HEX records, which load from a file named .hex, "
                ".ihx, .ihex or .mhx. Aborting Programming"}},
      // The packet that met the hang-up got no reply, and nothing more can cross the line.
      {.options = {.hang_up_after_blocks = 2},  // line gone while programming
       .body = {kNakLine, kStartLine, "Incomplete Response from ZARQ (Block 3, 0 Bytes)", lost},
       .wire = {"#1", "#2"}},
      {.options = {.silent = true},  // line gone while waiting for the loader
       .stop_on = "Opened",
       .body = {kWaiting + "no response", lost}},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases));
    UploadRun run(c.image, c.options, c.device_type, c.start_address, c.suffix);
    run.form.watch = [&](Control, const std::string& text) {
      if (c.halt_on == text) run.shared.HaltRequested.store(1);
      if (c.stop_on == text) run.sim.Stop();
    };
    EXPECT_EQ(run.Run(), c.halt_on ? TransferOutcome::kHalted : TransferOutcome::kFailed);
    const std::string log =
        std::regex_replace(run.form.Log(), std::regex(run.sim.PortPath()), "{port}");
    EXPECT_EQ(Body(std::regex_replace(log, std::regex(run.image_path), "{file}")), Text({c.body}));
    EXPECT_EQ(Wire(run.sim.Frames()), c.wire);
  }
}

// A line of boards: the next board is awaited across many handshakes at the test's clock
// without a line for each, and gets the image on an erased memory of its own; the board before
// keeps its own.
TEST(UploadImage, AQuietHandshakeAwaitsTheNextBoardOfALine) {
  const Bytes image = Pattern(3 * kBlockSize);
  UploadRun run(image, {.next_board_ms = 500}, "ZARQX");
  ASSERT_EQ(run.Run(), TransferOutcome::kComplete);
  int answered = 0;
  EXPECT_EQ(run.Run({.handshake = {.quiet = true, .answered = [&] { ++answered; }}}),
            TransferOutcome::kComplete);
  EXPECT_EQ(answered, 1);
  EXPECT_EQ(Body(run.form.Log()), Text({{kNakLine, kStartLine}, kEndLines}));
  const std::vector<Bytes> boards = run.sim.TakeLoadedBoards();
  ASSERT_EQ(boards.size(), 1u);
  EXPECT_EQ(run.Loaded(image.size(), boards[0]), image);
  EXPECT_EQ(run.Loaded(image.size()), image);
}

}  // namespace
}  // namespace kelvo

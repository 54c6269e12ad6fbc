#include "transfer/run_transfer.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "doubles/temp_folder.h"
#include "simulator/pseudo_terminal.h"
#include "support/transfer_run.h"

namespace kelvo {
namespace {

using testing::Bytes;

// Each write to the port. Each burst but the first comes after the pauses of those before.
struct BurstTap : PortTap {
  explicit BurstTap(Clock& timing) : clock(timing) {}
  void OnBytes(Direction direction, std::span<const std::uint8_t> bytes) override {
    if (direction != Direction::kSent) return;
    EXPECT_EQ(clock.TickCount(), 100 * bursts.size());
    bursts.emplace_back(bytes.begin(), bytes.end());
    if (bursts.size() == 1 && after_first) after_first();
  }
  Clock& clock;
  std::vector<Bytes> bursts;
  std::function<void()> after_first;  // runs once the first burst is out, before its pause
};

// Each line's bytes go out in one burst, and a pause follows each line that sends and nothing
// else. Halt, or the loss of the line, as the first burst goes out.
TEST(RunScript, WritesWhatEachLineNamesInOneBurstAndLogsIt) {
  enum Then { kNothing, kHalt, kLoseLine };
  struct Case {
    std::string script;
    std::vector<Bytes> bursts;
    std::string log;
    Then then = kNothing;
    TransferOutcome outcome = TransferOutcome::kComplete;
  };
  std::string send28 = "SEND", send29 = "SEND";
  for (int i = 0; i < 28; ++i) send28 += " 02", send29 += " 01";
  send29 += " XX";
  const Case cases[] = {
      {"  SEND 0a 0b xx\n", {{0x0A, 0x0B, 0xEB}}, "Sending Data SEND 0a 0b xx\r\n"},
      {"SEND\t01 02\n", {{0x02}}, "Sending Data SEND01 02\r\n"},
      {"SENDX 01\n", {{0x01}}, "Sending Data SENDX 01\r\n"},
      {"SEND 01\rSEND 02\n", {{0x01, 0x02}}, "Sending Data SEND 01SEND 02\r\n"},
      {"SEND 1\200F\377\017 2\n", {{0x1F, 0x02}}, "Sending Data SEND 1F 2\r\n"},
      {send28 + "\n", {Bytes(28, 0x02)}, "Sending Data " + send28 + "\r\n"},
      // A refused line fails the playback, which goes on all the same.
      {send29 + "\nSEND 01\n",
       {{0x01}},
       "Too many bytes (29, at most 28) in " + send29 + "\r\nSending Data SEND 01\r\n",
       kNothing,
       TransferOutcome::kFailed},
      {"SEND\nSEND   \n", {}, "No data found in SEND\r\nNo data found in SEND   \r\n"},
      {"\"Hi\"\n\"\n  \"\"  quotes \n\"SEND 01\n", {}, "Hi\"\r\n\r\n  quotes \r\nSEND 01\r\n"},
      {"\n   \nhello\nsend 01\n Send 01\n", {}, ""},
      {"", {}, ""},
      // A last line without its line end is not played.
      {"SEND 01\nSEND 02 03\nSEND 04",
       {{0x01}, {0x02, 0x03}},
       "Sending Data SEND 01\r\nSending Data SEND 02 03\r\n"},
      // Halt ends playback after the current line and its pause.
      {"SEND 01\nSEND 02\n\"after\n", {{0x01}}, "Sending Data SEND 01\r\n", kHalt},
      // Each later write logs its error, and playback goes on with its pauses.
      {"SEND 01\nSEND 02\nSEND 03\n",
       {{0x01}},
       "Sending Data SEND 01\r\nSending Data SEND 02\r\nError!\r\n"
       "Sending Data SEND 03\r\nError!\r\n",
       kLoseLine},
  };
  const testing::TempFolder folder("kelvo-script");
  const std::string path = (folder.Path() / "setup.scr").string();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    std::ofstream(path, std::ios::binary) << c.script;
    PseudoTerminal device;
    testing::TransferRun run;
    BurstTap tap(run.shared.clock);
    tap.after_first = [&] {
      if (c.then == kHalt) run.shared.HaltRequested.store(1);
      if (c.then == kLoseLine) device.Close();
    };
    EXPECT_EQ(run.Run(TransferKind::kRunScript, device.SlavePath(), path, {.tap = &tap}),
              c.then == kHalt ? TransferOutcome::kHalted : c.outcome);
    EXPECT_EQ(tap.bursts, c.bursts);
    EXPECT_EQ(testing::Body(run.form.Log()), c.log);
    std::size_t sending = 0;  // lines that send, each followed by its pause
    for (std::size_t at = 0; (at = c.log.find("Sending Data", at)) != std::string::npos; ++at)
      ++sending;
    EXPECT_EQ(run.shared.clock.TickCount(), 100 * sending);
  }
}

// A file that cannot be had (a FIFO stands for any file that is not a regular one) fails the
// transfer without waiting, with a line that says why, and the port is closed again; an upload
// adds its times. An empty image is no image. The delay is quoted as typed, not as read.
TEST(TransferFrame, AFileThatFailsSaysWhyClosesThePortAndAnUploadAddsItsTimes) {
  const testing::TempFolder folder("kelvo-frame");
  const auto file = [&](const char* name) { return (folder.Path() / name).string(); };
  const std::string fifo = file("pipe.bin"), held = file("held.bin"), script = file("setup.scr");
  const std::string empty = file("empty.bin"), missing = file("missing.bin");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {held, script}) std::ofstream(path) << "data";
  std::ofstream{empty};
  std::FILE* holder = std::fopen(held.c_str(), "r");
  ASSERT_EQ(::flock(::fileno(holder), LOCK_EX | LOCK_NB), 0);
  PseudoTerminal line;
  testing::TransferRun run;
  run.form.SetText(Control::ResponseDelayEdit, "-1 ms");
  const std::string times = "Time: T\r\nElapsed: T\r\n";
  const struct {
    std::string path, result, end;
  } cases[] = {
      {missing, "Failed\r\nno such file: " + missing, times},
      {folder.Path().string(), "Failed\r\n" + folder.Path().string() + " is a folder", times},
      {fifo, "Failed\r\n" + fifo + " is not a file", times},
      {held, "Failed\r\n" + held + " is being written by another program", times},
      {empty, "Failed\r\n" + empty + " is empty", times},
      {script, "Opened", ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(run.Run(ChooseTransfer(c.path), line.SlavePath(), c.path),
              c.result == "Opened" ? TransferOutcome::kComplete : TransferOutcome::kFailed);
    EXPECT_EQ(run.shared.clock.TickCount(), 0u);
    EXPECT_EQ(testing::WithTimesMasked(run.form.Log()),
              "Starting\r\nTime: T\r\nResponse Delay set to -1 ms ms\r\nOpening Port " +
                  line.SlavePath() + " . . . Opened\r\nOpening File " + c.path + " . . . " +
                  c.result + "\r\nClosing Port\r\n" + c.end);
  }
  std::fclose(holder);
}

}  // namespace
}  // namespace kelvo

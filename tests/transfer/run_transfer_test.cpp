#include "transfer/run_transfer.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <fstream>

#include "doubles/temp_folder.h"
#include "simulator/pseudo_terminal.h"
#include "support/transfer_run.h"

namespace kelvo {
namespace {

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

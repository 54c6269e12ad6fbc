#include "transfer/run_transfer.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <fstream>
#include <regex>

#include "simulator/pseudo_terminal.h"
#include "support/temp_folder.h"
#include "support/watched_form.h"

namespace kelvo {
namespace {

// The time lines change from run to run; masked, the elapsed time being under ten seconds.
std::string WithTimesMasked(const std::string& log) {
  return std::regex_replace(log, std::regex("(Time: )\\d\\d:\\d\\d:\\d\\d|(Elapsed: )00:0\\d"),
                            "$1$2T");
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
  testing::WatchedForm form;
  SharedState shared;
  form.SetText(Control::PortCombo, line.SlavePath());
  form.SetText(Control::ResponseDelayEdit, "-1 ms");
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
    form.SetText(Control::FileEdit, c.path);
    EXPECT_EQ(RunTransfer(ChooseTransfer(c.path), form, shared).outcome,
              c.result == "Opened" ? TransferOutcome::kComplete : TransferOutcome::kFailed);
    EXPECT_EQ(WithTimesMasked(form.Log()),
              "Starting\r\nTime: T\r\nResponse Delay set to -1 ms ms\r\nOpening Port " +
                  line.SlavePath() + " . . . Opened\r\nOpening File " + c.path + " . . . " +
                  c.result + "\r\nClosing Port\r\n" + c.end);
  }
  std::fclose(holder);
}

}  // namespace
}  // namespace kelvo

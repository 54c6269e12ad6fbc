// The texts a transfer reads and writes, and the form that holds them, the same on every system.

#include <gtest/gtest.h>

#include "transfer/form_model.h"
#include "transfer/response_delay.h"
#include "transfer/run_transfer.h"
#include "transfer/time_lines.h"

namespace kelvo {
namespace {

TEST(ChooseTransfer, AScriptIsAFileWhoseExtensionIsScr) {
  for (const char* path : {"C:\\Images\\APP.SCR", "/home/op/boot.Scr"})
    EXPECT_EQ(ChooseTransfer(path), TransferKind::kRunScript) << path;
  for (const char* path : {"C:\\my.scripts\\app.bin", "/srv/my.scr/app.bin", "C:\\Images\\app.sc",
                           "app.scr.bin", "noextension"})
    EXPECT_EQ(ChooseTransfer(path), TransferKind::kUploadImage) << path;
}

TEST(ResponseDelayFromText, ReadsLikeAtoiAndKeepsTheLow16Bits) {
  const std::pair<const char*, int> cases[] = {
      {"", 0},         {"abc", 0},    {"25 ms", 25}, {" \t+40", 40},          {"65536", 0},
      {"70000", 4464}, {"-1", 65535}, {"- 5", 0},    {"99999999999", 0xFFFF}, {"-99999999999", 0}};
  for (const auto& [text, delay] : cases) EXPECT_EQ(ResponseDelayFromText(text), delay) << text;
}

// The zero-padded minutes and seconds below an hour show in the transfer logs.
TEST(TimeLines, ElapsedShowsHoursOnlyFromOneHourOn) {
  EXPECT_EQ(ElapsedLine(3725), "Elapsed: 1:02:05");
}

// Each change once, the log by what was added, and never what the operator typed. A step and its
// outcome share one line: after an append the caret stands at the start of the piece, after a
// line end at the end.
TEST(FormModel, HandsTheWindowEachChangeOnceAndTheLogByWhatWasAddedWithItsCaret) {
  FormModel form;
  form.SetText(Control::BlockField, "1 / 3");
  form.SetText(Control::BlockField, "2 / 3");
  form.EnableButton(Control::StartButton, false);
  form.LogLine("Starting");
  form.LogAppend("Opening Port COM5 . . . ");
  FormModel::Changes changes = form.TakeChanges();
  EXPECT_EQ(changes.texts, (decltype(changes.texts){{Control::BlockField, "2 / 3"}}));
  EXPECT_EQ(changes.buttons, (decltype(changes.buttons){{Control::StartButton, false}}));
  ASSERT_TRUE(changes.log);
  EXPECT_EQ(changes.log->added, "Starting\r\nOpening Port COM5 . . . ");
  EXPECT_EQ(changes.log->caret, 10u);
  EXPECT_FALSE(changes.log->restarted);
  form.LogAppend("");
  EXPECT_EQ(form.TakeChanges().log.value().caret, 34u);

  form.LogLine("Opened");
  form.Typed(Control::FileEdit, "C:\\fw.bin");
  changes = form.TakeChanges();
  EXPECT_TRUE(changes.texts.empty());
  EXPECT_EQ(changes.log->added, "Opened\r\n");
  EXPECT_EQ(changes.log->caret, 42u);
  EXPECT_EQ(form.ReadText(Control::FileEdit), "C:\\fw.bin");

  form.SetText(Control::LogEdit, "");
  form.LogLine("Starting");
  changes = form.TakeChanges();
  EXPECT_TRUE(changes.log->restarted);
  EXPECT_EQ(changes.log->added, "Starting\r\n");
  EXPECT_EQ(changes.log->caret, 10u);
  EXPECT_FALSE(form.TakeChanges().log);
}

}  // namespace
}  // namespace kelvo

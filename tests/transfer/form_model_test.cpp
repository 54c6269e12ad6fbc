#include "transfer/form_model.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

// Each change once, the log by what was added, and never what the operator typed.
TEST(FormModel, HandsTheWindowEachChangeOnceAndTheLogByWhatWasAdded) {
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

  form.LogLine("Opened");
  form.Typed(Control::FileEdit, "C:\\fw.bin");
  changes = form.TakeChanges();
  EXPECT_TRUE(changes.texts.empty());
  EXPECT_EQ(changes.log->added, "Opened\r\n");
  EXPECT_EQ(form.ReadText(Control::FileEdit), "C:\\fw.bin");

  form.SetText(Control::LogEdit, "");
  form.LogLine("Starting");
  changes = form.TakeChanges();
  EXPECT_TRUE(changes.log->restarted);
  EXPECT_EQ(changes.log->added, "Starting\r\n");
  EXPECT_FALSE(form.TakeChanges().log);
}

}  // namespace
}  // namespace kelvo

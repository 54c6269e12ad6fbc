#include "window/win32/form_model.h"

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
  EXPECT_EQ(changes.log_added, "Starting\r\nOpening Port COM5 . . . ");
  EXPECT_EQ(changes.log_caret, 10u);
  EXPECT_FALSE(changes.log_restarted);

  form.LogLine("Opened");
  form.Typed(Control::FileEdit, "C:\\fw.bin");
  changes = form.TakeChanges();
  EXPECT_TRUE(changes.texts.empty());
  EXPECT_EQ(changes.log_added, "Opened\r\n");
  EXPECT_EQ(form.ReadText(Control::FileEdit), "C:\\fw.bin");

  form.SetText(Control::LogEdit, "");
  form.LogLine("Starting");
  changes = form.TakeChanges();
  EXPECT_TRUE(changes.log_restarted);
  EXPECT_EQ(changes.log_added, "Starting\r\n");
  EXPECT_FALSE(form.TakeChanges().log_changed);
}

}  // namespace
}  // namespace kelvo

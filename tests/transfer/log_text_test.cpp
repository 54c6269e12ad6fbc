#include "transfer/log_text.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

// After an append the caret stands at the start of the piece, after a line end at the end.
TEST(LogText, AStepAndItsOutcomeShareOneLineAndTheCaretFollows) {
  LogText log;
  log.LogLine("old");
  log.SetText("Starting");
  log.LogNewLine();
  EXPECT_EQ(log.Caret(), 10u);
  log.LogAppend("Opening Port COM1 . . . ");
  EXPECT_EQ(log.Caret(), 10u);
  log.LogAppend("");
  EXPECT_EQ(log.Caret(), 34u);
  log.LogLine("Failed");
  EXPECT_EQ(log.Text(), "Starting\r\nOpening Port COM1 . . . Failed\r\n");
  EXPECT_EQ(log.Caret(), log.Text().size());
}

}  // namespace
}  // namespace kelvo

#include "transfer/log_text.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

TEST(LogText, AppendPutsTheCaretAtTheStartOfThePiece) {
  LogText log;
  log.LogAppend("abc");
  EXPECT_EQ(log.Text(), "abc");
  EXPECT_EQ(log.Caret(), 0u);
  log.LogAppend("");
  EXPECT_EQ(log.Text(), "abc");
  EXPECT_EQ(log.Caret(), 3u);
  log.LogAppend("de");
  EXPECT_EQ(log.Caret(), 3u);
}

TEST(LogText, NewLineEndsInCrLfWithTheCaretAtTheEnd) {
  LogText log;
  log.LogNewLine();
  EXPECT_EQ(log.Text(), "\r\n");
  EXPECT_EQ(log.Caret(), 2u);
}

TEST(LogText, StepAndOutcomeShareOneLine) {
  LogText log;
  log.SetText("Starting");
  log.LogNewLine();
  log.LogLine("Closing Port");
  EXPECT_EQ(log.Text(), "Starting\r\nClosing Port\r\n");
  EXPECT_EQ(log.Caret(), 24u);
  log.LogAppend("Opening Port COM1 . . . ");
  log.LogLine("Failed");
  EXPECT_EQ(log.Text(), "Starting\r\nClosing Port\r\nOpening Port COM1 . . . Failed\r\n");
  EXPECT_EQ(log.Caret(), log.Text().size());
}

TEST(LogText, SettingTheTextStartsTheLogAfresh) {
  LogText log;
  log.LogLine("old");
  log.SetText("Starting");
  EXPECT_EQ(log.Text(), "Starting");
}

}  // namespace
}  // namespace kelvo

#include "window/log_pane.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

TEST(LogPane, Placeholder) {
  LogPane pane;
  pane.LogLine("x");
  EXPECT_EQ(pane.Text(), "x\r\n");
}

}  // namespace
}  // namespace kelvo

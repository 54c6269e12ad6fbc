#include <gtest/gtest.h>

#include "window/loader_app.h"

// The tests need no display: without a platform named in the environment they take Qt's
// offscreen one, also when the build lists them.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  kelvo::LoaderApp app;
  return RUN_ALL_TESTS();
}

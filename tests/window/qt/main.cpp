#include <gtest/gtest.h>

#include "window/qt/loader_app.h"

// Qt's offscreen platform unless one is named, also when the build lists the tests.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  kelvo::LoaderApp app;
  return RUN_ALL_TESTS();
}

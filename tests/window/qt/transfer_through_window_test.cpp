#include <filesystem>
#include <thread>

#include "doubles/fast_ticker.h"
#include "serial/serial_port.h"
#include "simulator/zarq_simulator.h"
#include "window/qt/loader_app.h"
#include "window_test_support.h"

namespace kelvo {
namespace {

using testing::Find;
using Bytes = std::vector<std::uint8_t>;
using TransferThroughWindowTest = testing::InEmptyFolder;

// Writes app.bin of whole blocks and starts its upload to device.
void StartUpload(MainDialog& window, const ZarqSimulator& device, int blocks) {
  Bytes image(static_cast<std::size_t>(blocks) * 128);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  testing::WriteFileBytes("app.bin", image);
  window.Form()->SetText(Control::PortCombo, device.PortPath());
  window.Form()->SetText(Control::FileEdit, std::filesystem::absolute("app.bin").string());
  QTest::mouseClick(Find<QPushButton>(window, "StartButton"), Qt::LeftButton);
}

std::string Log(const MainDialog& window) {
  return window.Form()->ReadText(Control::LogEdit);
}

// The upload's last steps.
bool Finished(const MainDialog& window) {
  return Log(window).find("Elapsed: ") != std::string::npos &&
         Find<QPushButton>(window, "StartButton")->isEnabled() &&
         !Find<QPushButton>(window, "HaltButton")->isEnabled();
}

TEST_F(TransferThroughWindowTest, StartRunsAnUploadTheWindowShowsAndHaltStopsTheNext) {
  ZarqSimulator device;
  MainDialog window;
  testing::ShowAndActivate(window);
  StartUpload(window, device, 6);
  ASSERT_TRUE(testing::ProcessEventsUntil([&] { return Finished(window); }));
  // Start had the focus when the upload disabled it; the log took it, not Quit.
  auto* log = Find<LogPane>(window, "LogEdit");
  EXPECT_EQ(QApplication::focusWidget(), log);

  EXPECT_EQ(Find<QLineEdit>(window, "BlockField")->text(), "6 / 6");
  EXPECT_EQ(Find<QLineEdit>(window, "ErrorsField")->text(), "0");
  EXPECT_EQ(Find<QLineEdit>(window, "AddressField")->text(), "2028");
  EXPECT_EQ(Find<QLineEdit>(window, "ChecksumField")->text(), "7E80");  // the image's sum
  // The tick that showed the buttons showed the log with them, a line written in two parts as one.
  EXPECT_EQ(log->Layout().Text(), Log(window));

  // Retries go on behind the About box, until Halt stops them.
  ZarqSimulator refusing({.refuse_block = 1, .refuse_times = 1 << 30});
  std::size_t log_at_open = 0;
  bool retried_while_open = false;
  testing::WhenOpens<AboutDialog>([&](AboutDialog* about) {
    log_at_open = Log(window).size();
    retried_while_open = testing::ProcessEventsUntil([&] {
      return Log(window).size() > log_at_open && Log(window).ends_with(" . . . Retrying\r\n");
    });
    about->accept();
  });
  StartUpload(window, refusing, 3);
  AboutDialog(&window).exec();
  EXPECT_TRUE(retried_while_open);
  testing::ShowAndActivate(window);  // as the window manager does when the About box goes

  QTest::mouseClick(Find<QPushButton>(window, "HaltButton"), Qt::LeftButton);
  ASSERT_TRUE(testing::ProcessEventsUntil([&] { return Finished(window); }));
  // So had Halt: keys then go to the log, not to the delay field or Quit.
  EXPECT_EQ(QApplication::focusWidget(), log);
  QTest::keyClicks(QApplication::focusWidget(), " 7");
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(Find<QLineEdit>(window, "ResponseDelayEdit")->text(), "0");
  EXPECT_NE(Find<QLineEdit>(window, "ErrorsField")->text(), "0");
}

// A stray key must not end an upload part way: Return and keypad Enter would click Quit (the
// default button, or the button with the focus) and Esc would close the window. The close box
// asks: No keeps the window; Yes closes it without saving, and the upload goes on without it.
TEST_F(TransferThroughWindowTest, DuringAnUploadReturnEnterAndEscDoNothingAndTheCloseBoxAsks) {
  ZarqSimulator refusing({.refuse_block = 1, .refuse_times = 1 << 30});  // retries until halted
  MainDialog window;
  testing::ShowAndActivate(window);
  StartUpload(window, refusing, 3);
  ASSERT_TRUE(testing::ProcessEventsUntil([&] {
    return Log(window).ends_with("Retrying\r\n") &&
           !Find<QPushButton>(window, "StartButton")->isEnabled();
  }));
  const std::tuple<const char*, Qt::Key, Qt::KeyboardModifiers> keys[] = {
      {"Return", Qt::Key_Return, {}},
      {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier},
      {"Esc", Qt::Key_Escape, {}}};
  for (const char* focus : {"LogEdit", "PortCombo", "QuitButton"}) {
    Find<QWidget>(window, focus)->setFocus();
    for (const auto& [name, key, modifiers] : keys) {
      QTest::keyClick(QApplication::focusWidget(), key, modifiers);
      ASSERT_TRUE(window.isVisible()) << name << " on " << focus;
    }
  }
  for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
    SCOPED_TRACE(answer == QMessageBox::No ? "No" : "Yes");
    QStringList asked;
    testing::WhenOpens<QMessageBox>(
        [&](QMessageBox* box) {
          asked << box->windowTitle() << box->text();
          EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
          EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
          box->button(answer)->click();
        },
        &QApplication::activeModalWidget, &window);
    window.close();
    EXPECT_EQ(asked, QStringList({window_texts::kCaption, window_texts::kCloseWhileRunning}));
    EXPECT_EQ(window.isVisible(), answer == QMessageBox::No);
  }
  EXPECT_EQ(window.result(), QDialog::Rejected);
  const std::size_t log_at_close = Log(window).size();
  EXPECT_TRUE(testing::ProcessEventsUntil(
      [&] { return Log(window).size() > log_at_close && Log(window).ends_with("Retrying\r\n"); }));
  window.Shared()->HaltRequested.store(1);
  ASSERT_TRUE(testing::ProcessEventsUntil([&] { return Finished(window); }));
  EXPECT_FALSE(std::filesystem::exists("KELVO.DAT"));
}

// The child runs a fixture of its own, whose folder std::exit would leave behind.
[[noreturn]] void LeaveChild(int status) {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::current_path(), ignored);
  std::exit(status);
}

// Quit during an upload, in a child process: it must end cleanly at once (the worker waiting
// for a tick that never comes), or halted, the worker running to its end and freeing the port.
[[noreturn]] void QuitDuringUploadThen(bool halt) {
  auto* device = new ZarqSimulator({.silent = true});  // the upload waits for the device's NAK
  std::shared_ptr<SharedState> shared;
  testing::WhenOpens<MainDialog>([&](MainDialog* window) {
    shared = window->Shared();
    StartUpload(*window, *device, 4);
    testing::ProcessEventsUntil(
        [&] { return Log(*window).find("Waiting for Initial NAK") != std::string::npos; });
    QTest::mouseClick(Find<QPushButton>(*window, "QuitButton"), Qt::LeftButton);
  });
  qobject_cast<LoaderApp*>(QCoreApplication::instance())->InitInstance();
  if (!std::filesystem::exists("KELVO.DAT")) LeaveChild(3);

  if (halt) {
    new testing::FastTicker(shared->clock);
    shared->HaltRequested.store(1);
    for (int i = 0; i < 500; ++i) {
      if (OpenLoaderPort(device->PortPath()).IsOpen()) LeaveChild(0);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    LeaveChild(4);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  LeaveChild(0);  // as main returns
}

TEST_F(TransferThroughWindowTest, QuitDuringAnUploadEndsTheProgramCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const bool halt : {false, true}) {
    SCOPED_TRACE(halt ? "halted" : "ended at once");
    EXPECT_EXIT(QuitDuringUploadThen(halt), ::testing::ExitedWithCode(0), "");
  }
}

// The test program was started with arguments of its own; the application sees none.
TEST(LoaderApp, HasItsVersionAndIgnoresTheArgumentsOfTheProgram) {
  EXPECT_EQ(QCoreApplication::arguments(), QStringList({"kelvo"}));
  EXPECT_EQ(QCoreApplication::applicationVersion(), "1.0.0.1");
}

}  // namespace
}  // namespace kelvo

#include "window/window_form.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <atomic>
#include <thread>

#include "window/log_pane.h"
#include "window/main_dialog.h"
#include "window_test_support.h"

namespace kelvo {
namespace {

using testing::Find;
using WindowFormTest = testing::InEmptyFolder;

// Runs body on a thread of its own while this thread keeps handling events.
void OnWorkerWhileServing(const std::function<void()>& body) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    body();
    done.store(true);
  });
  EXPECT_TRUE(testing::ProcessEventsUntil([&] { return done.load(); }));
  worker.join();
}

TEST_F(WindowFormTest, CallsFromAWorkerAreCarriedOutByTheWindowThreadBeforeTheyReturn) {
  MainDialog dialog;
  ControlPointers& form = *dialog.Form();
  auto* file_edit = Find<QLineEdit>(dialog, "FileEdit");
  std::vector<bool> on_window_thread;
  QObject::connect(
      file_edit, &QLineEdit::textChanged, file_edit,
      [&] { on_window_thread.push_back(QThread::currentThread() == qApp->thread()); },
      Qt::DirectConnection);

  std::vector<std::string> read;
  OnWorkerWhileServing([&] {
    form.SetText(Control::FileEdit, "/images/app.bin");
    read.push_back(form.ReadText(Control::FileEdit));
    form.EnableButton(Control::HaltButton, true);
    form.LogAppend("Opening Port COM12 . . . ");
    form.LogLine("Failed");
    read.push_back(form.ReadText(Control::LogEdit));
  });

  const std::string log = "Opening Port COM12 . . . Failed\r\n";
  EXPECT_EQ(read, std::vector<std::string>({"/images/app.bin", log}));
  EXPECT_EQ(on_window_thread, std::vector<bool>({true}));
  EXPECT_TRUE(Find<QPushButton>(dialog, "HaltButton")->isEnabled());
  EXPECT_EQ(Find<LogPane>(dialog, "LogEdit")->Text(), log);
}

TEST_F(WindowFormTest, TheWindowThreadServesAWorkerWhileTheFileDialogIsOpen) {
  MainDialog dialog;
  dialog.show();
  std::shared_ptr<ControlPointers> form = dialog.Form();
  std::atomic<bool> done{false};
  bool done_while_open = false;
  std::thread worker;
  testing::WhenOpens<QFileDialog>([&](QFileDialog* browse) {
    worker = std::thread([&] {
      for (int i = 0; i < 500; ++i) form->LogLine("line " + std::to_string(i));
      done.store(true);
    });
    done_while_open = testing::ProcessEventsUntil([&] { return done.load(); });
    browse->reject();
  });
  QTest::mouseClick(Find<QPushButton>(dialog, "BrowseButton"), Qt::LeftButton);
  ASSERT_TRUE(worker.joinable());
  testing::ProcessEventsUntil([&] { return done.load(); });
  worker.join();
  EXPECT_TRUE(done_while_open);
  const std::string& log = Find<LogPane>(dialog, "LogEdit")->Text();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 500);
  EXPECT_TRUE(log.ends_with("line 499\r\n"));
}

TEST_F(WindowFormTest, OnceTheWindowIsGoneCallsDoNothingAndReadEmptyTexts) {
  auto dialog = std::make_unique<MainDialog>();
  std::shared_ptr<ControlPointers> form = dialog->Form();
  form->SetText(Control::FileEdit, "/images/app.bin");
  dialog.reset();

  const auto use_form = [&] {
    form->SetText(Control::FileEdit, "x");
    form->EnableButton(Control::StartButton, true);
    form->LogLine("after the window");
    return form->ReadText(Control::FileEdit) + form->ReadText(Control::LogEdit);
  };
  EXPECT_EQ(use_form(), "");
  std::string from_worker = "not run";
  OnWorkerWhileServing([&] { from_worker = use_form(); });
  EXPECT_EQ(from_worker, "");
}

TEST_F(WindowFormTest, AWorkerWaitingForTheWindowIsReleasedWhenTheWindowGoes) {
  auto dialog = std::make_unique<MainDialog>();
  std::shared_ptr<ControlPointers> form = dialog->Form();
  form->SetText(Control::FileEdit, "/images/app.bin");

  // This thread handles no events, so the worker's call waits until the window goes.
  std::atomic<bool> calling{false};
  std::atomic<bool> returned{false};
  std::string read = "not returned";
  std::thread worker([&] {
    calling.store(true);
    read = form->ReadText(Control::FileEdit);
    returned.store(true);
  });
  while (!calling.load()) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(returned.load());
  dialog.reset();
  for (int i = 0; i < 500 && !returned.load(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(returned.load());
  worker.join();
  EXPECT_EQ(read, "");
}

}  // namespace
}  // namespace kelvo

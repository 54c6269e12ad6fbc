#include "window/window_form.h"

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

// A worker may outlive the window: one whose call waits when the window goes is released, and
// its later calls, like those of the window thread, do nothing and read empty texts.
TEST_F(WindowFormTest, OnceTheWindowIsGoneAWaitingWorkerIsReleasedAndCallsDoNothing) {
  auto dialog = std::make_unique<MainDialog>();
  std::shared_ptr<ControlPointers> form = dialog->Form();
  form->SetText(Control::FileEdit, "/images/app.bin");
  const auto use_form = [&] {
    const std::string read = form->ReadText(Control::FileEdit);
    form->SetText(Control::FileEdit, "x");
    form->EnableButton(Control::StartButton, true);
    form->LogLine("after the window");
    return read + form->ReadText(Control::FileEdit) + form->ReadText(Control::LogEdit);
  };

  // This thread handles no events, so the worker's first call waits until the window goes.
  std::atomic<bool> calling{false};
  std::atomic<bool> returned{false};
  std::string from_worker = "not returned";
  std::thread worker([&] {
    calling.store(true);
    from_worker = use_form();
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
  EXPECT_EQ(from_worker, "");
  EXPECT_EQ(use_form(), "");
}

}  // namespace
}  // namespace kelvo

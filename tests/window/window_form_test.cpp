#include "window/window_form.h"

#include <future>
#include <thread>

#include "window/main_dialog.h"
#include "window_test_support.h"

namespace kelvo {
namespace {

using WindowFormTest = testing::InEmptyFolder;

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
  std::promise<std::string> answer;
  std::future<std::string> from_worker = answer.get_future();
  std::thread worker([&] { answer.set_value(use_form()); });
  EXPECT_EQ(from_worker.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  dialog.reset();
  // Should the worker stay stuck, the test program ends here at once rather than hanging.
  ASSERT_EQ(from_worker.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  worker.join();
  EXPECT_EQ(from_worker.get(), "");
  EXPECT_EQ(use_form(), "");
}

}  // namespace
}  // namespace kelvo

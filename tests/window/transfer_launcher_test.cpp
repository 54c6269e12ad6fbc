#include "window/transfer_launcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>

#include "doubles/watched_form.h"

namespace kelvo {
namespace {

// The first transfer is held inside its preamble, once it has set the buttons and cleared Halt,
// until the test opens the gate.
TEST(TransferLauncher, RunsOneTransferAtATime) {
  auto form = std::make_shared<testing::WatchedForm>();
  auto shared = std::make_shared<SharedState>();
  form->SetText(Control::PortCombo, "/dev/kelvo-no-such-port");
  TransferLauncher launcher(form, shared);
  std::latch reached{1}, gate{1};
  std::atomic<bool> gated{false}, busy_when_enabled{false};
  form->watch = [&](Control control, const std::string& text) {
    if (control == Control::LogEdit && text == "Starting" && !gated.exchange(true)) {
      reached.count_down();
      gate.wait();
    }
    // Whether a click on Start at the moment it shows enabled would be taken.
    if (control == Control::StartButton && form->IsEnabled(control))
      busy_when_enabled = launcher.Busy();
  };
  shared->HaltRequested.store(1);  // left over from an earlier transfer

  ASSERT_TRUE(launcher.Start());
  EXPECT_FALSE(launcher.Start()) << "a second Start while the first is starting";
  reached.wait();
  EXPECT_TRUE(!form->IsEnabled(Control::StartButton) && form->IsEnabled(Control::HaltButton));
  EXPECT_EQ(shared->HaltRequested.load(), 0u);
  launcher.Halt();
  EXPECT_EQ(shared->HaltRequested.load(), 1u);
  EXPECT_FALSE(launcher.Start()) << "a second Start while the first runs";
  gate.count_down();
  EXPECT_EQ(launcher.Wait().outcome, TransferOutcome::kFailed);
  EXPECT_TRUE(form->IsEnabled(Control::StartButton) && !form->IsEnabled(Control::HaltButton));
  EXPECT_FALSE(busy_when_enabled) << "a click on Start as it shows enabled is lost";
}

}  // namespace
}  // namespace kelvo

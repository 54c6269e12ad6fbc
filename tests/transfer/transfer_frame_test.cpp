#include "transfer/transfer_frame.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>

#include "simulator/pseudo_terminal.h"
#include "support/read_only.h"
#include "support/temp_folder.h"
#include "transfer/memory_form.h"
#include "transfer/response_delay.h"
#include "transfer/time_lines.h"
#include "transfer/transfer_launcher.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;

// The time lines change from run to run; compare them as patterns.
std::string WithTimesMasked(const std::string& log) {
  return std::regex_replace(
      std::regex_replace(log, std::regex("Time: \\d\\d:\\d\\d:\\d\\d"), "Time: hh:mm:ss"),
      std::regex("Elapsed: 00:0\\d"), "Elapsed: 00:0s");
}

class TransferFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_.SetText(Control::PortCombo, line_.SlavePath());
    form_.SetText(Control::StartAddressCombo, "0x2000");
    form_.SetText(Control::DeviceTypeCombo, "ZARQ 40 - 580");
    form_.SetText(Control::ResponseDelayEdit, "0");
  }

  std::string MakeFile(const std::string& name) {
    const fs::path path = folder_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "data";
    return path.string();
  }

  TransferResult Run(const std::string& file) {
    form_.SetText(Control::FileEdit, file);
    return RunTransfer(ChooseTransfer(file), form_, shared_);
  }

  testing::TempFolder temp_{"kelvo-frame"};
  fs::path folder_ = temp_.Path();
  PseudoTerminal line_;
  MemoryForm form_;
  SharedState shared_;
};

TEST(ChooseTransfer, AScriptIsAFileWhoseExtensionIsScr) {
  const struct {
    const char* path;
    TransferKind kind;
  } cases[] = {
      {"C:\\Images\\APP.SCR", TransferKind::kRunScript},
      {"/home/op/boot.Scr", TransferKind::kRunScript},
      {"C:\\my.scripts\\app.bin", TransferKind::kUploadImage},
      {"/srv/my.scr/app.bin", TransferKind::kUploadImage},
      {"C:\\Images\\app.bin", TransferKind::kUploadImage},
      {"C:\\Images\\app.sc", TransferKind::kUploadImage},
      {"app.scr.bin", TransferKind::kUploadImage},
      {"noextension", TransferKind::kUploadImage},
      {"", TransferKind::kUploadImage},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseTransfer(c.path), c.kind) << c.path;
}

TEST(ResponseDelayFromText, ReadsLikeAtoiAndKeepsTheLow16Bits) {
  const struct {
    const char* text;
    std::uint16_t delay;
  } cases[] = {
      {"0", 0},
      {"", 0},
      {"abc", 0},
      {"250", 250},
      {"25 ms", 25},
      {"  +40", 40},
      {"\t7", 7},
      {"65536", 0},
      {"70000", 4464},
      {"-1", 65535},
      {"65535", 65535},
      {"99999999999", 0xFFFF},
      {"-99999999999", 0},
      {"12abc", 12},
      {"- 5", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ResponseDelayFromText(c.text), c.delay) << c.text;
}

TEST(TimeLines, ElapsedShowsHoursOnlyFromOneHourOn) {
  EXPECT_EQ(ElapsedLine(0), "Elapsed: 00:00");
  EXPECT_EQ(ElapsedLine(125), "Elapsed: 02:05");
  EXPECT_EQ(ElapsedLine(3599), "Elapsed: 59:59");
  EXPECT_EQ(ElapsedLine(3725), "Elapsed: 1:02:05");
  EXPECT_EQ(ElapsedLine(36000), "Elapsed: 10:00:00");
  EXPECT_TRUE(std::regex_match(TimeLine(0), std::regex("Time: \\d\\d:\\d\\d:\\d\\d")));
}

// The delay line quotes the text as typed, not the number read from it.
TEST_F(TransferFrameTest, APortThatFailsEndsTheTransferAtOnceWithItsCause) {
  form_.SetText(Control::PortCombo, "/dev/kelvo-no-such-port");
  form_.SetText(Control::ResponseDelayEdit, "-1 ms");
  form_.EnableButton(Control::StartButton, true);
  const TransferResult result = Run(MakeFile("app.bin"));
  EXPECT_EQ(result.outcome, TransferOutcome::kFailed);
  EXPECT_EQ(result.port_error, PortError::kNoSuchPort);
  EXPECT_EQ(shared_.ResponseDelay.load(), 65535);
  EXPECT_EQ(WithTimesMasked(form_.Log()),
            "Starting\r\nTime: hh:mm:ss\r\nResponse Delay set to -1 ms ms\r\n"
            "Opening Port /dev/kelvo-no-such-port . . . Failed\r\n"
            "no such port: /dev/kelvo-no-such-port\r\n");
  EXPECT_TRUE(form_.IsEnabled(Control::StartButton));
  EXPECT_FALSE(form_.IsEnabled(Control::HaltButton));
}

TEST_F(TransferFrameTest, AFileThatFailsClosesThePortAndAnUploadAddsItsTimes) {
  for (const auto& [name, times] :
       {std::pair{"missing.bin", "Time: hh:mm:ss\r\nElapsed: 00:0s\r\n"},
        std::pair{"missing.scr", ""}}) {
    const std::string missing = (folder_ / name).string();
    Run(missing);
    EXPECT_EQ(WithTimesMasked(form_.Log()),
              "Starting\r\nTime: hh:mm:ss\r\n"
              "Opening Port " +
                  line_.SlavePath() +
                  " . . . Opened\r\n"
                  "Opening File " +
                  missing + " . . . Failed\r\nClosing Port\r\n" + times);
  }
}

TEST_F(TransferFrameTest, AReadOnlyImageInAFolderNamedLikeAScriptUploads) {
  const std::string image = MakeFile("my.scripts/app.bin");
  fs::resize_file(image, 1 << 20);  // too large to program: the upload ends at once
  const testing::ReadOnly read_only(image);
  ASSERT_TRUE(read_only.Holds());
  ASSERT_EQ(std::fopen(image.c_str(), "r+"), nullptr) << "the image is not read-only";
  Run(image);
  const std::string log = form_.Log();
  EXPECT_NE(log.find("Opening File " + image + " . . . Opened\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Elapsed: "), std::string::npos) << "not taken for an upload: " << log;
}

TEST_F(TransferFrameTest, WhatIsNoPlainFileFailsWithoutWaiting) {
  const std::string fifo = (folder_ / "pipe.bin").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, folder_.string()}) {
    Run(path);
    EXPECT_NE(form_.Log().find("Opening File " + path + " . . . Failed"), std::string::npos);
  }
}

TEST_F(TransferFrameTest, AFileThatAnotherTransferHoldsFails) {
  const std::string image = MakeFile("held.bin");
  std::FILE* holder = std::fopen(image.c_str(), "r");
  ASSERT_EQ(::flock(::fileno(holder), LOCK_EX | LOCK_NB), 0);
  Run(image);
  EXPECT_NE(form_.Log().find("Opening File " + image + " . . . Failed"), std::string::npos);
  std::fclose(holder);
}

// Holds the worker inside the preamble until the test lets it go, and tells whether the
// launcher would take a click on Start at the moment the button shows enabled.
class GatedForm : public MemoryForm {
 public:
  void EnableButton(Control button, bool enabled) override {
    MemoryForm::EnableButton(button, enabled);
    if (button == Control::StartButton && enabled && launcher) busy_when_enabled = launcher->Busy();
  }
  const TransferLauncher* launcher = nullptr;
  std::atomic<bool> busy_when_enabled{false};
  std::string ReadText(Control control) override {
    if (control == Control::ResponseDelayEdit) {
      std::unique_lock lock(mutex_);
      reached_ = true;
      changed_.notify_all();
      changed_.wait(lock, [&] { return open_; });
    }
    return MemoryForm::ReadText(control);
  }
  void AwaitWorker() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return reached_; });
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool reached_ = false;
  bool open_ = false;
};

TEST(TransferLauncher, RunsOneTransferAtATime) {
  auto form = std::make_shared<GatedForm>();
  auto shared = std::make_shared<SharedState>();
  form->SetText(Control::PortCombo, "/dev/kelvo-no-such-port");
  TransferLauncher launcher(form, shared);
  form->launcher = &launcher;
  shared->HaltRequested.store(1);  // left over from an earlier transfer

  ASSERT_TRUE(launcher.Start());
  EXPECT_FALSE(launcher.Start()) << "a second Start while the first is starting";
  form->AwaitWorker();
  EXPECT_FALSE(form->IsEnabled(Control::StartButton));
  EXPECT_TRUE(form->IsEnabled(Control::HaltButton));
  EXPECT_EQ(shared->HaltRequested.load(), 0u);
  launcher.Halt();
  EXPECT_EQ(shared->HaltRequested.load(), 1u);
  EXPECT_FALSE(launcher.Start()) << "a second Start while the first runs";
  form->Open();

  EXPECT_EQ(launcher.Wait().outcome, TransferOutcome::kFailed);
  EXPECT_TRUE(form->IsEnabled(Control::StartButton));
  EXPECT_FALSE(form->IsEnabled(Control::HaltButton));
  EXPECT_FALSE(form->busy_when_enabled) << "a click on Start as it shows enabled is lost";
  EXPECT_TRUE(launcher.Start());
  launcher.Wait();
}

}  // namespace
}  // namespace kelvo

#pragma once

// kelvo-cli (or a program the tests put beside it) run as a separate process, as an operator
// does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "doubles/temp_folder.h"
#include "support/record_files.h"

extern char** environ;

namespace kelvo {

namespace fs = std::filesystem;
using testing::FileContents;

// The program in the test's folder, its output to files there, its errors to stderr_fd if given.
class CliProcess {
 public:
  CliProcess(std::vector<std::string> args, const fs::path& folder, int stderr_fd = -1,
             const char* program = KELVO_CLI_PATH)
      : stdout_path_(folder / "stdout.txt"), stderr_path_(folder / "stderr.txt") {
    std::vector<char*> argv = {const_cast<char*>(program)};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    constexpr int kFlags = O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdout_path_.c_str(), kFlags, 0644);
    if (stderr_fd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, stderr_fd, STDERR_FILENO);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_path_.c_str(), kFlags, 0644);
    }
    if (::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~CliProcess() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    Wait();
  }

  std::string Stdout() const { return FileContents(stdout_path_); }
  std::string Stderr() const { return FileContents(stderr_path_); }
  // Whether the program waits in a write of its errors: the system call and its first argument.
  bool WritingErrors() const {
    std::ifstream call("/proc/" + std::to_string(pid_) + "/syscall");
    std::string number, fd;
    return call >> number >> fd && number == std::to_string(SYS_write) && fd == "0x2";
  }
  void Signal(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);  // -1 would signal every process
  }

  // The exit status, 128 + the signal if one ended the program; a hang is left to ctest's limit.
  int Wait() {
    int status = 0;
    if (pid_ <= 0 || ::waitpid(std::exchange(pid_, -1), &status, 0) <= 0) return -1;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  }

  // Until the standard output shows what is asked for, ten seconds at most.
  void AwaitStdout(const std::function<bool(const std::string&)>& shows) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!shows(Stdout())) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << Stdout();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

 private:
  pid_t pid_ = -1;
  fs::path stdout_path_, stderr_path_;
};

inline const std::string kLongSend =  // 29 bytes, one more than a SEND line takes
    "SEND 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01";

// A folder of the test's own holding what kelvo-cli is given: app.bin (two data blocks, two blank
// ones, and a final part of 40 bytes), the same as S-records, and two scripts.
class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    std::string image;
    for (int i = 0; i < 256; ++i) image += static_cast<char>(i * 7 + 1);
    image += std::string(256, '\xFF');
    for (int i = 0; i < 40; ++i) image += static_cast<char>(i);
    Write("app.bin", image);
    Write("app.s19", testing::SRecordsOf(std::vector<std::uint8_t>(image.begin(), image.end())));
    Write("load.scr", "\"Setting the address\nSEND 05 41 BE 00 20\nSEND 04\n");
    Write("long.scr", kLongSend + "\nSEND 04");
  }
  void Write(const std::string& name, const std::string& contents) const {
    std::ofstream(directory_ / name, std::ios::binary) << contents;
  }

  testing::TempFolder folder_{"kelvo-cli"};
  fs::path directory_ = folder_.Path();
};

}  // namespace kelvo

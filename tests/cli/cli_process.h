#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kelvo::testing {

// The built kelvo-cli running as a child process in a directory of the test's choosing, its
// standard output and error collected as they come.
class CliProcess {
 public:
  // stderr_terminal, when given, is the master side of a pseudo-terminal whose slave becomes
  // the program's standard error; what the program writes there lands in Terminal().
  CliProcess(const std::vector<std::string>& args, const std::filesystem::path& directory,
             int stderr_terminal = -1, const std::string& stderr_terminal_path = "");
  ~CliProcess();
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // Collects output until standard output holds text; false if the wait ran out first.
  bool AwaitOutput(const std::string& text, std::chrono::milliseconds wait);
  void Signal(int signal);
  // Collects all output and returns the exit status (128 + the signal if one ended it), or -1
  // when the program had not ended within wait (it is then killed).
  int Wait(std::chrono::milliseconds wait = std::chrono::seconds(20));

  const std::string& Stdout() const { return stdout_; }
  const std::string& Stderr() const { return stderr_; }
  const std::string& Terminal() const { return terminal_; }

 private:
  // Reads whatever is ready within wait; false once every stream has ended.
  bool Collect(std::chrono::milliseconds wait);
  // Takes what the program left on the terminal, once it has ended.
  void DrainTerminal();

  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  int stderr_fd_ = -1;
  int terminal_fd_ = -1;
  std::string stdout_, stderr_, terminal_;
};

}  // namespace kelvo::testing

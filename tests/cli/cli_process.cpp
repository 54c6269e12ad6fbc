#include "cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

extern char** environ;

namespace kelvo::testing {
namespace {

void ClosePipe(int (&fds)[2]) {
  for (int& fd : fds) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& args, const std::filesystem::path& directory,
                       int stderr_terminal, const std::string& stderr_terminal_path) {
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    ClosePipe(out);
    ClosePipe(err);
    throw std::runtime_error("no pipes for kelvo-cli");
  }
  int terminal_slave = -1;
  if (stderr_terminal >= 0) {
    terminal_slave = ::open(stderr_terminal_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }

  std::vector<char*> argv;
  std::string program = KELVO_CLI_PATH;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, terminal_slave >= 0 ? terminal_slave : err[1],
                                   STDERR_FILENO);
  const int spawned =
      ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  if (terminal_slave >= 0) ::close(terminal_slave);
  stdout_fd_ = out[0];
  stderr_fd_ = err[0];
  terminal_fd_ = stderr_terminal;
  if (spawned != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + program);
  }
}

CliProcess::~CliProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (stdout_fd_ >= 0) ::close(stdout_fd_);
  if (stderr_fd_ >= 0) ::close(stderr_fd_);
}

bool CliProcess::Collect(std::chrono::milliseconds wait) {
  struct Stream {
    int& fd;
    std::string& text;
  };
  Stream streams[] = {{stdout_fd_, stdout_}, {stderr_fd_, stderr_}, {terminal_fd_, terminal_}};
  pollfd fds[3];
  for (int i = 0; i < 3; ++i) fds[i] = {streams[i].fd, POLLIN, 0};
  // The terminal is the test's own and never ends; the pipes end with the program.
  if (stdout_fd_ < 0 && stderr_fd_ < 0) return false;
  if (::poll(fds, 3, static_cast<int>(wait.count())) <= 0) return true;
  for (int i = 0; i < 3; ++i) {
    if (fds[i].fd < 0 || fds[i].revents == 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
    if (n > 0) {
      streams[i].text.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      if (i < 2) ::close(streams[i].fd);
      streams[i].fd = -1;
    }
  }
  return true;
}

void CliProcess::DrainTerminal() {
  pollfd ready{terminal_fd_, POLLIN, 0};
  char buffer[4096];
  while (terminal_fd_ >= 0 && ::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0) {
    const ssize_t n = ::read(terminal_fd_, buffer, sizeof buffer);
    if (n <= 0) return;
    terminal_.append(buffer, static_cast<std::size_t>(n));
  }
}

bool CliProcess::AwaitOutput(const std::string& text, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (stdout_.find(text) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !Collect(left)) return false;
  }
  return true;
}

void CliProcess::Signal(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

int CliProcess::Wait(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return -1;
    if (!Collect(left)) break;
  }
  int status = 0;
  if (::waitpid(pid_, &status, 0) != pid_) return -1;
  pid_ = -1;
  DrainTerminal();
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace kelvo::testing

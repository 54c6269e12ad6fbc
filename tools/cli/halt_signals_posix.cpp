#include <unistd.h>

#include <csignal>

#include "halt_signals.h"
#include "serial/open_lines_posix.h"
#include "terminal.h"

namespace kelvo::cli {
namespace {

void (*handler)() = nullptr;
struct sigaction previous_int {
}, previous_term{};

void OnSignal(int) {
  handler();
}

}  // namespace

const char kHaltSignalsText[] = "Ctrl-C or SIGTERM";

void CatchHaltSignals(void (*on_signal)()) {
  handler = on_signal;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &previous_int);
  ::sigaction(SIGTERM, &action, &previous_term);
}

void ReleaseHaltSignals() {
  ::sigaction(SIGINT, &previous_int, nullptr);
  ::sigaction(SIGTERM, &previous_term, nullptr);
}

void EndAtOnce(int status) {
  PutBackOpenLines();
  RestoreTerminal();
  static constexpr char kNewLine = '\n';
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, &kNewLine, 1);
  ::_exit(status);
}

}  // namespace kelvo::cli

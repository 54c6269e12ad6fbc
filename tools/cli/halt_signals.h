#pragma once

namespace kelvo::cli {

// The operator's ways of asking a console program to stop: Ctrl-C, and SIGTERM on Linux or
// Ctrl-Break on Windows. Until released, each one calls on_signal (from a signal handler or a
// thread of the system's, so it may only touch lock-free atomics) instead of ending the
// program; released, the earlier handling comes back.
void CatchHaltSignals(void (*on_signal)());
void ReleaseHaltSignals();

// Ends the program at once with status, safely from where on_signal runs, after a line break
// that leaves a live progress line behind. On Linux each open port's line first gets back what
// the port changed (its settings, the kernel's RS-485 mode), which closing it would have put back.
[[noreturn]] void EndAtOnce(int status);

// How --help names them.
extern const char kHaltSignalsText[];

}  // namespace kelvo::cli

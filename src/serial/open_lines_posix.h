#pragma once

#include <linux/serial.h>
#include <termios.h>

namespace kelvo {

// What opening a port changed on its line, which closing it puts back.
struct LineChanges {
  int fd = -1;
  termios saved{};             // the line's settings before
  bool rs485 = false;          // the kernel's RS-485 mode was switched on...
  serial_rs485 saved_rs485{};  // ...from this
};

// A port lists its line's changes once made and takes them off before its descriptor closes, so
// that a program that must end at once can still put them back. Once PutBackOpenLines has begun,
// taking them off never returns: the handler may be using the descriptor until the end. The
// changes must stay where they are while listed.
void ListOpenLine(const LineChanges& changes);
void UnlistOpenLine(const LineChanges& changes);

// Puts back every listed line's changes, for a program about to end without closing its ports.
// Safe in a signal handler: it touches only lock-free atomics and the changes they publish, and
// makes only system calls (tcsetattr, async-signal-safe by POSIX, and ioctl, which glibc passes
// straight to the kernel without a lock or an allocation).
void PutBackOpenLines();

}  // namespace kelvo

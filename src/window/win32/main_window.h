#pragma once

#include <windows.h>

#include "window/window_core.h"

namespace kelvo {

// Runs the program's window until it closes: the form through which the operator picks the
// file, port, start address, device type and response delay, starts and halts a transfer and
// reads its log. Quit (and Enter) saves the form and closes; Esc and the close box close
// without saving. While a transfer runs, Enter and Esc do nothing and the close box asks first;
// closing neither halts nor waits for it.
void RunMainWindow(HINSTANCE instance, const WindowParts& parts = {});

}  // namespace kelvo

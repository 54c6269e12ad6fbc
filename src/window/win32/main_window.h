#pragma once

#include <windows.h>

namespace kelvo {

// Runs the program's window until it closes: the form through which the operator picks the
// file, port, start address, device type and response delay, starts and halts a transfer and
// reads its log. Quit (and Enter) saves the form and closes; Esc and the close box close
// without saving. Closing neither halts nor waits for a running transfer.
void RunMainWindow(HINSTANCE instance);

}  // namespace kelvo

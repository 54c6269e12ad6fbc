#pragma once

#include <windows.h>

#include <memory>

#include "transfer/shared_state.h"
#include "window/win32/form_model.h"

namespace kelvo {

// What the window shares with the transfers it starts (they keep both alive), and with
// whoever watches it from another thread.
struct WindowParts {
  std::shared_ptr<SharedState> shared = std::make_shared<SharedState>();
  std::shared_ptr<FormModel> form = std::make_shared<FormModel>();
};

// Runs the program's window until it closes: the form through which the operator picks the
// file, port, start address, device type and response delay, starts and halts a transfer and
// reads its log. Quit (and Enter) saves the form and closes; Esc and the close box close
// without saving. While a transfer runs, Enter and Esc do nothing and the close box asks first;
// closing neither halts nor waits for it.
void RunMainWindow(HINSTANCE instance, const WindowParts& parts = {});

}  // namespace kelvo

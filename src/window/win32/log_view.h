#pragma once

#include <windows.h>

#include "transfer/form_model.h"

namespace kelvo {

// The log pane: a window class of its own that draws only the lines in view, so that a log of
// any length costs the same to show. A standard multiline edit slows down as it grows (each
// append takes time in proportion to the whole text) and stops at 30000 characters. It scrolls
// to the caret both ways, with a vertical bar and none across. The mouse, and the arrows, Home,
// End, Page Up and Page Down with or without Shift, move the caret and select as in a read-only
// edit control; Ctrl+C copies and Ctrl+A selects all. Its caret shows while it has the focus.
namespace log_view {

void Register(HINSTANCE instance);

// Shows the log's changes, which the window thread takes from the form once a tick.
void Show(HWND view, const LogChanges& changes);

}  // namespace log_view
}  // namespace kelvo

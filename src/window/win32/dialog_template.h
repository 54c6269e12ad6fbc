#pragma once

#include <windows.h>

#include <vector>

#include "window/forms.h"

namespace kelvo {

// The window class of the log pane, registered by LogView.
inline constexpr wchar_t kLogViewClass[] = L"KelvoLog";

// An in-memory dialog template of form, for DialogBoxIndirectParamW: the form's caption, size,
// controls, ids, styles and order, in the dialog units of the 8-point "MS Shell Dlg" font, which
// has the metrics of the "MS Sans Serif" that the form was laid out in. style is the dialog's own
// window style.
std::vector<WORD> DialogTemplate(const forms::Form& form, DWORD style, DWORD extended_style);

}  // namespace kelvo

#include "window/window_core.h"

#include <cstdio>

#include "settings/settings_file.h"
#include "window/forms.h"
#include "window/window_texts.h"

namespace kelvo {

int ControlId(Control control) {
  return forms::kTransferControlIds[static_cast<std::size_t>(control)];
}

WindowCore::WindowCore(FormView& view, WindowParts parts)
    : view_(view), parts_(std::move(parts)), launcher_(parts_.form, parts_.shared) {
  LoadSettings(*parts_.form, parts_.shared->ResponseDelay);
  ShowChanges();
  parts_.shared->clock.Reset();
}

void WindowCore::Tick() {
  parts_.shared->clock.Tick();
  ShowChanges();
}

void WindowCore::ShowChanges() {
  const FormModel::Changes changes = parts_.form->TakeChanges();
  showing_ = true;
  for (const auto& [control, text] : changes.texts) view_.ShowText(control, text);
  showing_ = false;
  for (const auto& [button, enabled] : changes.buttons) {
    // A disabled button keeps no focus worth having: the system would pass it on to the next
    // control, where a key meant for the button would quit or edit a field in the middle of a
    // transfer. The log, which takes no typing, has it instead.
    if (!enabled && view_.HasFocus(button)) view_.Focus(Control::LogEdit);
    view_.ShowEnabled(button, enabled);
  }
  if (changes.log) view_.ShowLog(*changes.log);
}

void WindowCore::Typed(Control control, const std::string& text) {
  if (!showing_) parts_.form->Typed(control, text);
}

std::string WindowCore::Save() {
  const std::string why = SaveSettings(*parts_.form, parts_.shared->ResponseDelay);
  return why.empty() ? why : window_texts::NotSaved(why);
}

std::string HelpPath(const std::string& here, const std::string& installed) {
  std::FILE* file = std::fopen(here.c_str(), "rb");
  if (!file) return installed;
  std::fclose(file);
  return here;
}

}  // namespace kelvo

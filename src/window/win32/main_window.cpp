#include "window/win32/main_window.h"

#include <cderr.h>
#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>
#include <timeapi.h>

#include <memory>
#include <string>

#include "window/forms.h"
#include "window/win32/dialog_template.h"
#include "window/win32/log_view.h"
#include "window/window_texts.h"

namespace kelvo {
namespace {

constexpr UINT_PTR kTickTimer = 1;
// A system-menu command of our own: below 0xF000, and a multiple of 16 as the system wants.
constexpr UINT kAboutCommand = 0x0010;
constexpr int kIconId = 1;  // in the program's resources

std::string TextOf(HWND control) {
  std::string text(static_cast<std::size_t>(::GetWindowTextLengthA(control)) + 1, '\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextA(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

struct Window final : FormView {
  HWND Item(Control control) const { return ::GetDlgItem(dialog, ControlId(control)); }

  void ShowText(Control control, const std::string& text) override {
    ::SetWindowTextA(Item(control), text.c_str());
  }
  void ShowEnabled(Control button, bool enabled) override { ::EnableWindow(Item(button), enabled); }
  void ShowLog(const LogChanges& log) override { log_view::Show(Item(Control::LogEdit), log); }
  bool HasFocus(Control control) const override { return ::GetFocus() == Item(control); }
  void Focus(Control control) override { ::SetFocus(Item(control)); }

  HINSTANCE instance = nullptr;
  HWND dialog = nullptr;
  WindowParts parts;
  std::unique_ptr<WindowCore> core;
};

// What the operator typed or chose in a control. The core's showing of the settings file, as it
// starts, comes before it is there.
void Typed(Window& window, int id, int code) {
  if (!window.core) return;
  for (const Control control : kTypedControls) {
    if (ControlId(control) != id) continue;
    const HWND item = window.Item(control);
    if (code == CBN_SELCHANGE) {
      // The edit part shows the chosen item only after this notification.
      const LRESULT chosen = ::SendMessageA(item, CB_GETCURSEL, 0, 0);
      std::string text(static_cast<std::size_t>(
                           std::max<LRESULT>(0, ::SendMessageA(item, CB_GETLBTEXTLEN, chosen, 0))) +
                           1,
                       '\0');
      const LRESULT length =
          ::SendMessageA(item, CB_GETLBTEXT, chosen, reinterpret_cast<LPARAM>(text.data()));
      text.resize(static_cast<std::size_t>(std::max<LRESULT>(0, length)));
      window.core->Typed(control, text);
    } else if (code == EN_CHANGE || code == CBN_EDITCHANGE) {
      window.core->Typed(control, TextOf(item));
    }
  }
}

INT_PTR CALLBACK AboutProcedure(HWND about, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
    ::EndDialog(about, LOWORD(wparam));
    return TRUE;
  }
  return FALSE;
}

void ShowAbout(const Window& window) {
  const std::vector<WORD> about = DialogTemplate(
      forms::kAboutForm, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, 0);
  ::DialogBoxIndirectParamW(window.instance, reinterpret_cast<const DLGTEMPLATE*>(about.data()),
                            window.dialog, AboutProcedure, 0);
}

std::string CurrentFolder() {
  std::string folder(::GetCurrentDirectoryA(0, nullptr), '\0');
  folder.resize(::GetCurrentDirectoryA(static_cast<DWORD>(folder.size()), folder.data()));
  return folder;
}

void Browse(Window& window) {
  // Opens where FileEdit points. The dialog moves the current folder as the operator browses,
  // OFN_NOCHANGEDIR or not, and KELVO.DAT and the help are found there.
  const std::string folder = CurrentFolder();
  const std::string current = TextOf(window.Item(Control::FileEdit));
  // Sized to hold the whole text, so that a name the dialog cannot take is refused, not cut.
  std::string path(std::max<std::size_t>(MAX_PATH, current.size() + 1), '\0');
  current.copy(path.data(), current.size());
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window.dialog;
  std::string filters;  // each a name and its patterns, ended by a second NUL
  for (const auto& [name, patterns] : window_texts::kBrowseFilters) {
    filters.append(name).append(" (").append(patterns).append(")").push_back('\0');
    filters.append(patterns).push_back('\0');
  }
  dialog.lpstrFilter = filters.c_str();
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrDefExt = window_texts::kBrowseExtension;
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  bool chosen = ::GetOpenFileNameA(&dialog);
  // A name it refuses (a '|', a '"', too long) would leave Browse dead until FileEdit changes.
  if (!chosen && ::CommDlgExtendedError() == FNERR_INVALIDFILENAME) {
    path[0] = '\0';
    chosen = ::GetOpenFileNameA(&dialog);
  }
  ::SetCurrentDirectoryA(folder.c_str());
  if (chosen) ::SetWindowTextA(window.Item(Control::FileEdit), path.c_str());
}

// The help in the current folder, else the copy beside the program.
std::string HelpFile() {
  char path[MAX_PATH];
  const DWORD full = ::GetFullPathNameA(forms::kHelpFileName, sizeof path, path, nullptr);
  const std::string here(path, full < sizeof path ? full : 0);
  const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string program(path, length < sizeof path ? length : 0);
  return HelpPath(here, program.substr(0, program.find_last_of('\\') + 1) + forms::kHelpFileName);
}

// Opened with the program the system opens RTF with; where there is none, the operator learns
// where the file is.
void Help(const Window& window) {
  const std::string help = HelpFile();
  const auto opened = reinterpret_cast<INT_PTR>(
      ::ShellExecuteA(window.dialog, "open", help.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (opened <= 32) {
    ::MessageBoxA(window.dialog, window_texts::HelpNotOpened(help).c_str(), window_texts::kCaption,
                  MB_OK | MB_ICONWARNING);
  }
}

// Return, keypad Enter and Esc reach the dialog as Quit and Cancel; a click on Quit comes
// without the key down.
bool FromEnterOrEsc() {
  return ::GetKeyState(VK_RETURN) < 0 || ::GetKeyState(VK_ESCAPE) < 0;
}

void Initialise(Window& window) {
  const HMENU system_menu = ::GetSystemMenu(window.dialog, FALSE);
  ::AppendMenuA(system_menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuA(system_menu, MF_STRING, kAboutCommand, forms::kAboutEntry);
  for (const int size : {ICON_BIG, ICON_SMALL}) {
    const int pixels = ::GetSystemMetrics(size == ICON_BIG ? SM_CXICON : SM_CXSMICON);
    const HANDLE icon = ::LoadImageW(window.instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, pixels,
                                     pixels, LR_DEFAULTCOLOR);
    ::SendMessageW(window.dialog, WM_SETICON, size, reinterpret_cast<LPARAM>(icon));
  }
  for (const forms::Control& control : forms::kMainForm.controls) {
    for (const char* item : control.items) {
      ::SendDlgItemMessageA(window.dialog, control.id, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(item));
    }
  }
  window.core = std::make_unique<WindowCore>(window, window.parts);
  ::SetTimer(window.dialog, kTickTimer, Clock::kTickMs, nullptr);
}

INT_PTR CALLBACK MainProcedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto& window = *reinterpret_cast<Window*>(lparam);
    ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    window.dialog = dialog;
    Initialise(window);
    ::SetFocus(::GetDlgItem(dialog, forms::kFileEdit));
    return FALSE;  // the focus is set
  }
  auto* window = reinterpret_cast<Window*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  if (!window) return FALSE;
  switch (message) {
    case WM_TIMER:
      window->core->Tick();
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) != kAboutCommand) return FALSE;
      ShowAbout(*window);
      return TRUE;
    case WM_HELP:  // F1
      Help(*window);
      return TRUE;
    case WM_CLOSE:  // the close box, Alt+F4
      if (window->core->Busy() &&
          ::MessageBoxA(dialog, window_texts::kCloseWhileRunning, window_texts::kCaption,
                        MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES) {
        return TRUE;
      }
      ::EndDialog(dialog, IDCANCEL);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:      // Quit, and Enter
        case IDCANCEL:  // Esc
          // A stray key must not close the window and leave the device half-loaded.
          if (window->core->Busy() && FromEnterOrEsc()) return TRUE;
          if (LOWORD(wparam) == IDOK) {
            const std::string not_saved = window->core->Save();
            if (!not_saved.empty()) {
              ::MessageBoxA(dialog, not_saved.c_str(), window_texts::kCaption,
                            MB_OK | MB_ICONWARNING);
            }
          }
          ::EndDialog(dialog, LOWORD(wparam));
          return TRUE;
        case forms::kBrowseButton:
          Browse(*window);
          return TRUE;
        case forms::kStartButton:
          window->core->Start();
          return TRUE;
        case forms::kHaltButton:
          window->core->Halt();
          return TRUE;
        case forms::kHelpButton:
          Help(*window);
          return TRUE;
      }
      Typed(*window, LOWORD(wparam), HIWORD(wparam));
      return FALSE;
  }
  return FALSE;
}

}  // namespace

void RunMainWindow(HINSTANCE instance, const WindowParts& parts) {
  log_view::Register(instance);
  Window window;
  window.instance = instance;
  window.parts = parts;
  const std::vector<WORD> form = DialogTemplate(
      forms::kMainForm, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | WS_VISIBLE,
      WS_EX_APPWINDOW);
  // Timers follow the system tick, 15.6 ms unless a program asks for finer: the 50 ms clock
  // would tick every 62.5 ms and stretch every delay by a quarter.
  ::timeBeginPeriod(1);
  // ShellExecute may hand the help to a shell extension, which needs COM on this thread.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  ::DialogBoxIndirectParamW(instance, reinterpret_cast<const DLGTEMPLATE*>(form.data()), nullptr,
                            MainProcedure, reinterpret_cast<LPARAM>(&window));
  if (SUCCEEDED(com)) ::CoUninitialize();
  ::timeEndPeriod(1);
  // A transfer still running goes on without the window, writing only to the form's model,
  // which it keeps alive; it ends with the process.
}

}  // namespace kelvo

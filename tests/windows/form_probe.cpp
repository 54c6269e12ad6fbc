// Prints each control of the window with the given caption as "ID on|off TEXT", then the control
// with the focus and its window, read from outside as a screen reader would.
//   form_probe CAPTION

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

BOOL CALLBACK PrintControl(HWND control, LPARAM window) {
  if (::GetParent(control) != reinterpret_cast<HWND>(window)) return TRUE;  // a combo box's edit
  static char text[1 << 20];
  text[0] = '\0';
  ::SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  // One control a line: the log's line ends shown as "\n".
  std::string shown;
  for (const char* c = text; *c; ++c) {
    if (*c == '\n')
      shown += "\\n";
    else if (*c != '\r')
      shown += *c;
  }
  std::printf("%d %s %s\n", ::GetDlgCtrlID(control), ::IsWindowEnabled(control) ? "on" : "off",
              shown.c_str());
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const HWND window = ::FindWindowA(nullptr, argv[1]);
  if (!window) return 1;
  ::EnumChildWindows(window, PrintControl, reinterpret_cast<LPARAM>(window));
  GUITHREADINFO thread{};
  thread.cbSize = sizeof thread;
  if (::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &thread) &&
      thread.hwndFocus) {
    char caption[256] = {};
    ::GetWindowTextA(::GetAncestor(thread.hwndFocus, GA_ROOT), caption, sizeof caption);
    std::printf("focus %d in %s\n", ::GetDlgCtrlID(thread.hwndFocus), caption);
  }
  return 0;
}

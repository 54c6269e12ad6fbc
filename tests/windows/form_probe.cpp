// form_probe CAPTION: prints each control of that window as "ID TEXT", as a screen reader would.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

BOOL CALLBACK PrintControl(HWND control, LPARAM window) {
  if (::GetParent(control) != reinterpret_cast<HWND>(window)) return TRUE;  // a combo box's edit
  static char text[1 << 20];
  text[0] = '\0';
  ::SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  std::string shown;  // one control a line: the log's line ends shown as "\n"
  for (const char* c = text; *c; ++c)
    shown += *c == '\n' ? "\\n" : *c == '\r' ? "" : std::string(1, *c);
  std::printf("%d %s\n", ::GetDlgCtrlID(control), shown.c_str());
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const HWND window = ::FindWindowA(nullptr, argv[1]);
  if (!window) return 1;
  ::EnumChildWindows(window, PrintControl, reinterpret_cast<LPARAM>(window));
  return 0;
}

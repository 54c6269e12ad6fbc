// form_probe CAPTION: prints each control of that window as "ID TEXT", as a screen reader would,
// after a line "dpi-awareness" with the DPI awareness that the window's program declares.

#include <windows.h>

#include <cstdio>
#include <iterator>
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
  std::printf("%d %s\n", ::GetDlgCtrlID(control), shown.c_str());
  return TRUE;
}

// As Windows reads it from the program's manifest when the program starts. Wine 8 reports every
// window as per-monitor aware, with or without a manifest, so the window cannot tell.
std::wstring DeclaredDpiAwareness(HWND window) {
  DWORD process_id = 0;
  ::GetWindowThreadProcessId(window, &process_id);
  const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  wchar_t program[MAX_PATH];
  DWORD length = MAX_PATH;
  const bool named = process && ::QueryFullProcessImageNameW(process, 0, program, &length);
  if (process) ::CloseHandle(process);
  if (!named) return L"unknown";
  ACTCTXW manifest{};
  manifest.cbSize = sizeof manifest;
  manifest.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  manifest.lpSource = program;
  manifest.lpResourceName = MAKEINTRESOURCEW(1);  // the process's manifest
  const HANDLE context = ::CreateActCtxW(&manifest);
  if (context == INVALID_HANDLE_VALUE) return L"none";
  wchar_t awareness[64] = L"unset";
  ::QueryActCtxSettingsW(0, context, L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                         L"dpiAwareness", awareness, std::size(awareness), nullptr);
  ::ReleaseActCtx(context);
  return awareness;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const HWND window = ::FindWindowA(nullptr, argv[1]);
  if (!window) return 1;
  std::printf("dpi-awareness %ls\n", DeclaredDpiAwareness(window).c_str());
  ::EnumChildWindows(window, PrintControl, reinterpret_cast<LPARAM>(window));
  return 0;
}

#include "window/win32/log_view.h"

#include <windowsx.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "window/win32/dialog_template.h"

namespace kelvo::log_view {
namespace {

constexpr int kMargin = 2;  // pixels between the border and the text

struct Pane {
  std::string text;
  std::vector<std::size_t> line_starts{0};
  std::size_t anchor = 0, caret = 0;  // the selection, from its fixed end to the caret
  std::size_t top = 0;                // the first line in view
  int left = 0;                       // pixels scrolled across, to keep the caret in view
  HFONT font = nullptr;
  int line_height = 13;
  bool focused = false;
  int wheel = 0;  // the wheel's turn not yet scrolled; a notch is WHEEL_DELTA
};

Pane& PaneOf(HWND view) {
  return *reinterpret_cast<Pane*>(::GetWindowLongPtrW(view, GWLP_USERDATA));
}

std::size_t LineOf(const Pane& pane, std::size_t offset) {
  return static_cast<std::size_t>(
             std::upper_bound(pane.line_starts.begin(), pane.line_starts.end(), offset) -
             pane.line_starts.begin()) -
         1;
}

// A line's text without its CR LF.
std::string_view Line(const Pane& pane, std::size_t line) {
  const std::size_t start = pane.line_starts[line];
  std::size_t end =
      line + 1 < pane.line_starts.size() ? pane.line_starts[line + 1] : pane.text.size();
  while (end > start && (pane.text[end - 1] == '\n' || pane.text[end - 1] == '\r')) --end;
  return std::string_view(pane.text).substr(start, end - start);
}

int TextWidth(HDC dc, std::string_view text) {
  SIZE size{};
  ::GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &size);
  return size.cx;
}

std::size_t LinesInView(HWND view, const Pane& pane) {
  RECT client{};
  ::GetClientRect(view, &client);
  return static_cast<std::size_t>(std::max<LONG>(1, (client.bottom - kMargin) / pane.line_height));
}

void UpdateScrollBar(HWND view, const Pane& pane) {
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  info.nMin = 0;
  info.nMax = static_cast<int>(pane.line_starts.size()) - 1;
  info.nPage = static_cast<UINT>(LinesInView(view, pane));
  info.nPos = static_cast<int>(pane.top);
  ::SetScrollInfo(view, SB_VERT, &info, TRUE);
}

void ScrollTo(HWND view, Pane& pane, std::ptrdiff_t top) {
  const std::ptrdiff_t last =
      std::max<std::ptrdiff_t>(0, static_cast<std::ptrdiff_t>(pane.line_starts.size()) -
                                      static_cast<std::ptrdiff_t>(LinesInView(view, pane)));
  pane.top = static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(top, 0, last));
  UpdateScrollBar(view, pane);
  ::InvalidateRect(view, nullptr, TRUE);
}

// The caret's place in the client area.
POINT CaretPoint(HWND view, const Pane& pane) {
  const std::size_t line = LineOf(pane, pane.caret);
  const HDC dc = ::GetDC(view);
  const HGDIOBJ old = ::SelectObject(dc, pane.font);
  const int x = TextWidth(dc, Line(pane, line).substr(0, pane.caret - pane.line_starts[line]));
  ::SelectObject(dc, old);
  ::ReleaseDC(view, dc);
  return {kMargin + x - pane.left,
          kMargin + static_cast<int>(line - std::min(line, pane.top)) * pane.line_height};
}

void PlaceCaret(HWND view, const Pane& pane) {
  if (!pane.focused) return;
  const POINT at = CaretPoint(view, pane);
  ::SetCaretPos(at.x, at.y);
}

// Scrolls so that the caret's line, and its place across, are in view.
void FollowCaret(HWND view, Pane& pane) {
  const std::size_t line = LineOf(pane, pane.caret);
  const std::size_t in_view = LinesInView(view, pane);
  std::ptrdiff_t top = static_cast<std::ptrdiff_t>(pane.top);
  if (line < pane.top) top = static_cast<std::ptrdiff_t>(line);
  if (line >= pane.top + in_view) top = static_cast<std::ptrdiff_t>(line + 1 - in_view);
  RECT client{};
  ::GetClientRect(view, &client);
  const int x = CaretPoint(view, pane).x + pane.left;
  const int width = client.right - 2 * kMargin;
  if (x - pane.left > width) pane.left = x - width;
  if (x - pane.left < kMargin) pane.left = std::max(0, x - kMargin);
  ScrollTo(view, pane, top);
  PlaceCaret(view, pane);
}

// The offset in line nearest the client area's x.
std::size_t OffsetIn(HWND view, const Pane& pane, std::size_t line, int x) {
  const std::string_view text = Line(pane, line);
  const HDC dc = ::GetDC(view);
  const HGDIOBJ old = ::SelectObject(dc, pane.font);
  std::size_t column = 0;
  while (column < text.size() &&
         kMargin - pane.left + TextWidth(dc, text.substr(0, column + 1)) <= x) {
    ++column;
  }
  ::SelectObject(dc, old);
  ::ReleaseDC(view, dc);
  return pane.line_starts[line] + column;
}

std::size_t OffsetAt(HWND view, const Pane& pane, int x, int y) {
  const std::size_t line =
      std::min(pane.line_starts.size() - 1,
               pane.top + static_cast<std::size_t>(std::max(0, y - kMargin) / pane.line_height));
  return OffsetIn(view, pane, line, x);
}

// Where key moves the caret, as in a read-only edit control, if it is a key that moves it; the
// caret never stops inside a line break.
std::optional<std::size_t> CaretAfterKey(HWND view, const Pane& pane, WPARAM key, bool control) {
  const std::size_t line = LineOf(pane, pane.caret);
  const std::size_t start = pane.line_starts[line];
  const std::size_t end = start + Line(pane, line).size();
  const std::size_t last = pane.line_starts.size() - 1;
  const std::size_t page = LinesInView(view, pane);
  const int x = CaretPoint(view, pane).x;
  switch (key) {
    case VK_LEFT:
      if (pane.caret > start) return pane.caret - 1;
      return line > 0 ? pane.line_starts[line - 1] + Line(pane, line - 1).size() : pane.caret;
    case VK_RIGHT:
      if (pane.caret < end) return pane.caret + 1;
      return line < last ? pane.line_starts[line + 1] : pane.caret;
    case VK_UP:
      return OffsetIn(view, pane, line - std::min<std::size_t>(line, 1), x);
    case VK_DOWN:
      return OffsetIn(view, pane, std::min(last, line + 1), x);
    case VK_PRIOR:
      return OffsetIn(view, pane, line - std::min(line, page), x);
    case VK_NEXT:
      return OffsetIn(view, pane, std::min(last, line + page), x);
    case VK_HOME:
      return control ? 0 : start;
    case VK_END:
      return control ? pane.text.size() : end;
  }
  return std::nullopt;
}

std::wstring WideText(const Pane& pane) {
  const int size = static_cast<int>(pane.text.size());
  std::wstring wide(static_cast<std::size_t>(
                        ::MultiByteToWideChar(CP_ACP, 0, pane.text.data(), size, nullptr, 0)),
                    L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, pane.text.data(), size, wide.data(),
                        static_cast<int>(wide.size()));
  return wide;
}

void Copy(HWND view, const Pane& pane) {
  const std::size_t from = std::min(pane.anchor, pane.caret);
  const std::size_t to = std::max(pane.anchor, pane.caret);
  if (from == to || !::OpenClipboard(view)) return;
  ::EmptyClipboard();
  if (const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, to - from + 1)) {
    char* bytes = static_cast<char*>(::GlobalLock(memory));
    std::copy(pane.text.begin() + static_cast<std::ptrdiff_t>(from),
              pane.text.begin() + static_cast<std::ptrdiff_t>(to), bytes);
    bytes[to - from] = '\0';
    ::GlobalUnlock(memory);
    if (!::SetClipboardData(CF_TEXT, memory)) ::GlobalFree(memory);
  }
  ::CloseClipboard();
}

void Paint(HWND view, const Pane& pane) {
  PAINTSTRUCT paint{};
  const HDC dc = ::BeginPaint(view, &paint);
  const HGDIOBJ old = ::SelectObject(dc, pane.font);
  RECT client{};
  ::GetClientRect(view, &client);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_WINDOW));
  const std::size_t from = std::min(pane.anchor, pane.caret);
  const std::size_t to = std::max(pane.anchor, pane.caret);
  const std::size_t last =
      std::min(pane.line_starts.size(), pane.top + LinesInView(view, pane) + 1);
  for (std::size_t line = pane.top; line < last; ++line) {
    const std::string_view text = Line(pane, line);
    const std::size_t start = pane.line_starts[line];
    // Up to three runs: before, inside and after the selection.
    const std::size_t cuts[] = {0, std::clamp(from, start, start + text.size()) - start,
                                std::clamp(to, start, start + text.size()) - start, text.size()};
    int x = kMargin - pane.left;
    const int y = kMargin + static_cast<int>(line - pane.top) * pane.line_height;
    for (int run = 0; run < 3; ++run) {
      const std::string_view piece = text.substr(cuts[run], cuts[run + 1] - cuts[run]);
      if (piece.empty()) continue;
      const bool selected = run == 1;
      ::SetTextColor(dc, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
      ::SetBkColor(dc, ::GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
      ::TextOutA(dc, x, y, piece.data(), static_cast<int>(piece.size()));
      x += TextWidth(dc, piece);
    }
  }
  ::SelectObject(dc, old);
  ::EndPaint(view, &paint);
}

LRESULT CALLBACK Procedure(HWND view, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    ::SetWindowLongPtrW(view, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new Pane));
  } else if (message == WM_NCDESTROY) {
    delete &PaneOf(view);
    ::SetWindowLongPtrW(view, GWLP_USERDATA, 0);
    return ::DefWindowProcW(view, message, wparam, lparam);
  }
  if (::GetWindowLongPtrW(view, GWLP_USERDATA) == 0) {
    return ::DefWindowProcW(view, message, wparam, lparam);
  }
  Pane& pane = PaneOf(view);
  switch (message) {
    case WM_SETFONT: {
      pane.font = reinterpret_cast<HFONT>(wparam);
      const HDC dc = ::GetDC(view);
      const HGDIOBJ old = ::SelectObject(dc, pane.font);
      TEXTMETRICW metrics{};
      ::GetTextMetricsW(dc, &metrics);
      pane.line_height = std::max<LONG>(1, metrics.tmHeight);
      ::SelectObject(dc, old);
      ::ReleaseDC(view, dc);
      // A new font also comes when the window moves to a display of another scale.
      ScrollTo(view, pane, static_cast<std::ptrdiff_t>(pane.top));
      return 0;
    }
    case WM_PAINT:
      Paint(view, pane);
      return 0;
    case WM_SIZE:
      ScrollTo(view, pane, static_cast<std::ptrdiff_t>(pane.top));
      return 0;
    case WM_VSCROLL: {
      SCROLLINFO info{};
      info.cbSize = sizeof info;
      info.fMask = SIF_ALL;
      ::GetScrollInfo(view, SB_VERT, &info);
      const auto page = static_cast<std::ptrdiff_t>(LinesInView(view, pane));
      std::ptrdiff_t top = static_cast<std::ptrdiff_t>(pane.top);
      switch (LOWORD(wparam)) {
        case SB_LINEUP:
          --top;
          break;
        case SB_LINEDOWN:
          ++top;
          break;
        case SB_PAGEUP:
          top -= page;
          break;
        case SB_PAGEDOWN:
          top += page;
          break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
          top = info.nTrackPos;
          break;
        case SB_TOP:
          top = 0;
          break;
        case SB_BOTTOM:
          top = static_cast<std::ptrdiff_t>(pane.line_starts.size());
          break;
      }
      ScrollTo(view, pane, top);
      PlaceCaret(view, pane);
      return 0;
    }
    case WM_MOUSEWHEEL: {
      // Three lines a notch; a touchpad sends a notch in many small parts, which add up.
      constexpr int kPerLine = WHEEL_DELTA / 3;
      const int delta = GET_WHEEL_DELTA_WPARAM(wparam);
      if ((delta < 0) != (pane.wheel < 0)) pane.wheel = 0;
      pane.wheel += delta;
      const int lines = pane.wheel / kPerLine;
      pane.wheel -= lines * kPerLine;
      ScrollTo(view, pane, static_cast<std::ptrdiff_t>(pane.top) - lines);
      PlaceCaret(view, pane);
      return 0;
    }
    case WM_LBUTTONDOWN:
      ::SetFocus(view);
      ::SetCapture(view);
      pane.caret = OffsetAt(view, pane, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
      if ((wparam & MK_SHIFT) == 0) pane.anchor = pane.caret;
      PlaceCaret(view, pane);
      ::InvalidateRect(view, nullptr, TRUE);
      return 0;
    case WM_MOUSEMOVE:
      if (::GetCapture() == view) {
        pane.caret = OffsetAt(view, pane, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
        PlaceCaret(view, pane);
        ::InvalidateRect(view, nullptr, TRUE);
      }
      return 0;
    case WM_LBUTTONUP:
      if (::GetCapture() == view) ::ReleaseCapture();
      return 0;
    // The log's text, for screen readers and tests that read the window from outside. Its
    // bytes are in the ANSI code page, as the rest of the window's texts are.
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(WideText(pane).size());
    case WM_GETTEXT: {
      if (wparam == 0) return 0;
      const std::wstring text = WideText(pane);
      const std::size_t count = text.copy(reinterpret_cast<wchar_t*>(lparam), wparam - 1);
      reinterpret_cast<wchar_t*>(lparam)[count] = L'\0';
      return static_cast<LRESULT>(count);
    }
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_KEYDOWN: {
      const bool control = ::GetKeyState(VK_CONTROL) < 0;
      if (control && wparam == 'C') Copy(view, pane);
      if (control && wparam == 'A') {
        pane.anchor = 0;
        pane.caret = pane.text.size();
        FollowCaret(view, pane);
      } else if (const auto caret = CaretAfterKey(view, pane, wparam, control)) {
        pane.caret = *caret;
        if (::GetKeyState(VK_SHIFT) >= 0) pane.anchor = pane.caret;
        FollowCaret(view, pane);
      }
      return 0;
    }
    case WM_SETFOCUS:
      pane.focused = true;
      ::CreateCaret(view, nullptr, 1, pane.line_height);
      PlaceCaret(view, pane);
      ::ShowCaret(view);
      return 0;
    case WM_KILLFOCUS:
      pane.focused = false;
      ::DestroyCaret();
      return 0;
  }
  return ::DefWindowProcW(view, message, wparam, lparam);
}

}  // namespace

void Register(HINSTANCE instance) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = Procedure;
  window_class.hInstance = instance;
  window_class.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32513));  // the I-beam;
  window_class.lpszClassName = kLogViewClass;
  ::RegisterClassW(&window_class);
}

void Apply(HWND view, const FormModel::Changes& changes) {
  if (!changes.log_changed) return;
  Pane& pane = PaneOf(view);
  if (changes.log_restarted) {
    pane.text.clear();
    pane.line_starts.assign(1, 0);
    pane.anchor = pane.caret = pane.top = 0;
  }
  const std::size_t old_size = pane.text.size();
  pane.text += changes.log_added;
  for (std::size_t i = old_size; i < pane.text.size(); ++i) {
    if (pane.text[i] == '\n') pane.line_starts.push_back(i + 1);
  }
  // The view follows the log, unless the operator is selecting in it.
  if (pane.anchor != pane.caret) return ScrollTo(view, pane, static_cast<std::ptrdiff_t>(pane.top));
  pane.anchor = pane.caret = std::min(changes.log_caret, pane.text.size());
  FollowCaret(view, pane);
}

}  // namespace kelvo::log_view

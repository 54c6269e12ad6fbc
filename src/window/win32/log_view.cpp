#include "window/win32/log_view.h"

#include <windowsx.h>

#include <algorithm>
#include <optional>
#include <string>

#include "window/log_layout.h"
#include "window/win32/dialog_template.h"

namespace kelvo::log_view {
namespace {

constexpr int kMargin = 2;  // pixels between the border and the text

int TextWidth(HDC dc, std::string_view text) {
  SIZE size{};
  ::GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &size);
  return size.cx;
}

// The pane's state, and its text measured in its font. Its bytes are in the ANSI code page, one
// a character, as the rest of the window's texts are.
struct Pane final : TextMetrics {
  explicit Pane(HWND window) : view(window) {}

  int LineHeight() const override { return line_height; }
  int Width(std::string_view piece) const override {
    const HDC dc = ::GetDC(view);
    const HGDIOBJ old = ::SelectObject(dc, font);
    const int width = TextWidth(dc, piece);
    ::SelectObject(dc, old);
    ::ReleaseDC(view, dc);
    return width;
  }
  std::size_t CharacterLength(std::string_view) const override { return 1; }

  const HWND view;
  HFONT font = nullptr;
  int line_height = 13;
  bool focused = false;
  int wheel = 0;  // the wheel's turn not yet scrolled; a notch is WHEEL_DELTA
  LogLayout log{*this};
};

Pane& PaneOf(HWND view) {
  return *reinterpret_cast<Pane*>(::GetWindowLongPtrW(view, GWLP_USERDATA));
}

void Resize(Pane& pane) {
  RECT client{};
  ::GetClientRect(pane.view, &client);
  pane.log.Resize(
      static_cast<std::size_t>(std::max<LONG>(1, (client.bottom - kMargin) / pane.line_height)),
      client.right - 2 * kMargin);
}

void PlaceCaret(const Pane& pane) {
  if (!pane.focused) return;
  const auto line = static_cast<int>(pane.log.LineOf(pane.log.Caret()));
  ::SetCaretPos(kMargin + pane.log.XOf(pane.log.Caret()) - pane.log.Left(),
                kMargin + (line - static_cast<int>(pane.log.Top())) * pane.line_height);
}

// Brings the scroll bar, the drawing and the caret up to the layout.
void Refresh(const Pane& pane) {
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  info.nMin = 0;
  info.nMax = static_cast<int>(pane.log.LineCount()) - 1;
  info.nPage = static_cast<UINT>(pane.log.LinesInView());
  info.nPos = static_cast<int>(pane.log.Top());
  ::SetScrollInfo(pane.view, SB_VERT, &info, TRUE);
  ::InvalidateRect(pane.view, nullptr, TRUE);
  PlaceCaret(pane);
}

void ScrollTo(Pane& pane, std::ptrdiff_t top) {
  pane.log.ScrollTo(top);
  Refresh(pane);
}

std::size_t OffsetAt(const Pane& pane, LPARAM point) {
  return pane.log.OffsetAt(GET_X_LPARAM(point) - kMargin, GET_Y_LPARAM(point) - kMargin);
}

// Where key moves the caret, as in a read-only edit control, if it is a key that moves it; the
// caret never stops inside a line break.
std::optional<std::size_t> CaretAfterKey(const LogLayout& log, WPARAM key, bool control) {
  const std::size_t line = log.LineOf(log.Caret());
  const std::size_t start = log.LineStart(line);
  const std::size_t end = start + log.Line(line).size();
  const std::size_t last = log.LineCount() - 1;
  const std::size_t page = log.LinesInView();
  const int x = log.XOf(log.Caret());
  switch (key) {
    case VK_LEFT:
      if (log.Caret() > start) return log.Caret() - 1;
      return line > 0 ? log.LineStart(line - 1) + log.Line(line - 1).size() : log.Caret();
    case VK_RIGHT:
      if (log.Caret() < end) return log.Caret() + 1;
      return line < last ? log.LineStart(line + 1) : log.Caret();
    case VK_UP:
      return log.OffsetIn(line - std::min<std::size_t>(line, 1), x);
    case VK_DOWN:
      return log.OffsetIn(std::min(last, line + 1), x);
    case VK_PRIOR:
      return log.OffsetIn(line - std::min(line, page), x);
    case VK_NEXT:
      return log.OffsetIn(std::min(last, line + page), x);
    case VK_HOME:
      return control ? 0 : start;
    case VK_END:
      return control ? log.Text().size() : end;
  }
  return std::nullopt;
}

std::wstring WideText(const std::string& text) {
  const int size = static_cast<int>(text.size());
  std::wstring wide(
      static_cast<std::size_t>(::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0)),
      L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

void Copy(const Pane& pane) {
  const std::string_view selected = pane.log.Selected();
  if (selected.empty() || !::OpenClipboard(pane.view)) return;
  ::EmptyClipboard();
  if (const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, selected.size() + 1)) {
    char* bytes = static_cast<char*>(::GlobalLock(memory));
    bytes[selected.copy(bytes, selected.size())] = '\0';
    ::GlobalUnlock(memory);
    if (!::SetClipboardData(CF_TEXT, memory)) ::GlobalFree(memory);
  }
  ::CloseClipboard();
}

void Paint(const Pane& pane) {
  PAINTSTRUCT paint{};
  const HDC dc = ::BeginPaint(pane.view, &paint);
  const HGDIOBJ old = ::SelectObject(dc, pane.font);
  RECT client{};
  ::GetClientRect(pane.view, &client);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_WINDOW));
  const LogLayout& log = pane.log;
  const std::size_t last = std::min(log.LineCount(), log.Top() + log.LinesInView() + 1);
  for (std::size_t line = log.Top(); line < last; ++line) {
    const std::string_view text = log.Line(line);
    const std::size_t start = log.LineStart(line);
    // Up to three runs: before, inside and after the selection.
    const std::size_t cuts[] = {
        0, std::clamp(log.SelectionBegin(), start, start + text.size()) - start,
        std::clamp(log.SelectionEnd(), start, start + text.size()) - start, text.size()};
    int x = kMargin - log.Left();
    const int y = kMargin + static_cast<int>(line - log.Top()) * pane.line_height;
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
  ::EndPaint(pane.view, &paint);
}

std::ptrdiff_t TopAfterScroll(const Pane& pane, WORD request) {
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL;
  ::GetScrollInfo(pane.view, SB_VERT, &info);
  const auto page = static_cast<std::ptrdiff_t>(pane.log.LinesInView());
  const auto top = static_cast<std::ptrdiff_t>(pane.log.Top());
  switch (request) {
    case SB_LINEUP:
      return top - 1;
    case SB_LINEDOWN:
      return top + 1;
    case SB_PAGEUP:
      return top - page;
    case SB_PAGEDOWN:
      return top + page;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      return info.nTrackPos;
    case SB_TOP:
      return 0;
    case SB_BOTTOM:
      return static_cast<std::ptrdiff_t>(pane.log.LineCount());
  }
  return top;
}

LRESULT CALLBACK Procedure(HWND view, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    ::SetWindowLongPtrW(view, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new Pane(view)));
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
      Resize(pane);
      Refresh(pane);
      return 0;
    }
    case WM_PAINT:
      Paint(pane);
      return 0;
    case WM_SIZE:
      Resize(pane);
      Refresh(pane);
      return 0;
    case WM_VSCROLL:
      ScrollTo(pane, TopAfterScroll(pane, LOWORD(wparam)));
      return 0;
    case WM_MOUSEWHEEL: {
      // Three lines a notch; a touchpad sends a notch in many small parts, which add up.
      constexpr int kPerLine = WHEEL_DELTA / 3;
      const int delta = GET_WHEEL_DELTA_WPARAM(wparam);
      if ((delta < 0) != (pane.wheel < 0)) pane.wheel = 0;
      pane.wheel += delta;
      const int lines = pane.wheel / kPerLine;
      pane.wheel -= lines * kPerLine;
      ScrollTo(pane, static_cast<std::ptrdiff_t>(pane.log.Top()) - lines);
      return 0;
    }
    case WM_LBUTTONDOWN:
      ::SetFocus(view);
      ::SetCapture(view);
      pane.log.MoveCaret(OffsetAt(pane, lparam), (wparam & MK_SHIFT) != 0);
      PlaceCaret(pane);
      ::InvalidateRect(view, nullptr, TRUE);
      return 0;
    case WM_MOUSEMOVE:
      if (::GetCapture() == view) {
        pane.log.MoveCaret(OffsetAt(pane, lparam), true);
        PlaceCaret(pane);
        ::InvalidateRect(view, nullptr, TRUE);
      }
      return 0;
    case WM_LBUTTONUP:
      if (::GetCapture() == view) ::ReleaseCapture();
      return 0;
    // The log's text, for screen readers and tests that read the window from outside.
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(WideText(pane.log.Text()).size());
    case WM_GETTEXT: {
      if (wparam == 0) return 0;
      const std::wstring text = WideText(pane.log.Text());
      const std::size_t count = text.copy(reinterpret_cast<wchar_t*>(lparam), wparam - 1);
      reinterpret_cast<wchar_t*>(lparam)[count] = L'\0';
      return static_cast<LRESULT>(count);
    }
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_KEYDOWN: {
      const bool control = ::GetKeyState(VK_CONTROL) < 0;
      if (control && wparam == 'C') Copy(pane);
      if (control && wparam == 'A') {
        pane.log.SelectAll();
      } else if (const auto caret = CaretAfterKey(pane.log, wparam, control)) {
        pane.log.MoveCaret(*caret, ::GetKeyState(VK_SHIFT) < 0);
      } else {
        return 0;
      }
      pane.log.FollowCaret();
      Refresh(pane);
      return 0;
    }
    case WM_SETFOCUS:
      pane.focused = true;
      ::CreateCaret(view, nullptr, 1, pane.line_height);
      PlaceCaret(pane);
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

void Show(HWND view, const LogChanges& changes) {
  Pane& pane = PaneOf(view);
  pane.log.Apply(changes);
  Refresh(pane);
}

}  // namespace kelvo::log_view

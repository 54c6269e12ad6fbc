#include "window/win32/dialog_template.h"

#include <string>

namespace kelvo {
namespace {

// The atoms of the predefined control classes.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kComboBoxClass = 0x0085;

class TemplateWriter {
 public:
  void Word(WORD word) { words_.push_back(word); }
  void Dword(DWORD dword) {
    Word(LOWORD(dword));
    Word(HIWORD(dword));
  }
  void Text(const char* text) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    for (const wchar_t c : wide) Word(static_cast<WORD>(c));  // ends with the terminating 0
  }
  void Text(const wchar_t* text) {
    for (; *text; ++text) Word(static_cast<WORD>(*text));
    Word(0);
  }
  // Each control's part starts on a 4-byte boundary.
  void AlignToDword() {
    if (words_.size() % 2 != 0) Word(0);
  }
  std::vector<WORD> Take() { return std::move(words_); }

 private:
  std::vector<WORD> words_;
};

DWORD ControlStyle(const forms::Control& control) {
  using forms::Kind;
  DWORD style = WS_CHILD | WS_VISIBLE;
  if (control.style & forms::kTabStop) style |= WS_TABSTOP;
  if (control.style & forms::kDisabled) style |= WS_DISABLED;
  switch (control.kind) {
    case Kind::kLabel:
      // Clipped rather than wrapped where a substitute font is wider than the one the form
      // was laid out in, as under Wine.
      return style | SS_LEFTNOWORDWRAP;
    case Kind::kEdit:
      style |= WS_BORDER | ES_AUTOHSCROLL;
      if (control.style & forms::kReadOnly) style |= ES_READONLY;
      if (control.style & forms::kDigitsOnly) style |= ES_NUMBER;
      if (control.style & forms::kRightAligned) style |= ES_RIGHT;
      return style;
    case Kind::kCombo:
      style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL;
      if (control.style & forms::kSorted) style |= CBS_SORT;
      return style;
    case Kind::kButton:
      return style | BS_PUSHBUTTON;
    case Kind::kDefaultButton:
      return style | BS_DEFPUSHBUTTON;
    case Kind::kLog:
      return style | WS_BORDER | WS_VSCROLL;
  }
  return style;
}

void WriteClass(TemplateWriter& out, forms::Kind kind) {
  using forms::Kind;
  if (kind == Kind::kLog) return out.Text(kLogViewClass);
  out.Word(0xFFFF);
  switch (kind) {
    case Kind::kLabel:
      return out.Word(kStaticClass);
    case Kind::kEdit:
      return out.Word(kEditClass);
    case Kind::kCombo:
      return out.Word(kComboBoxClass);
    case Kind::kButton:
    case Kind::kDefaultButton:
    case Kind::kLog:
      return out.Word(kButtonClass);
  }
}

}  // namespace

std::vector<WORD> DialogTemplate(const forms::Form& form, DWORD style, DWORD extended_style) {
  // The extended form, as only it gives DS_SHELLFONT its meaning: the shell's dialog font,
  // which scales with the display, where "MS Sans Serif" is a bitmap font that does not.
  TemplateWriter out;
  out.Word(1);  // version
  out.Word(0xFFFF);
  out.Dword(0);  // no help id
  out.Dword(extended_style);
  out.Dword(style | DS_SHELLFONT);
  out.Word(static_cast<WORD>(form.controls.size()));
  out.Word(0);  // x, y: the dialog is centred
  out.Word(0);
  out.Word(static_cast<WORD>(form.width));
  out.Word(static_cast<WORD>(form.height));
  out.Word(0);  // no menu
  out.Word(0);  // the standard dialog class
  out.Text(form.caption);
  out.Word(8);  // points
  out.Word(FW_NORMAL);
  out.Word(MAKEWORD(FALSE, DEFAULT_CHARSET));  // italic, character set
  out.Text(L"MS Shell Dlg");
  for (const forms::Control& control : form.controls) {
    out.AlignToDword();
    out.Dword(0);  // no help id
    out.Dword(0);
    out.Dword(ControlStyle(control));
    out.Word(static_cast<WORD>(control.rect.x));
    out.Word(static_cast<WORD>(control.rect.y));
    out.Word(static_cast<WORD>(control.rect.w));
    out.Word(static_cast<WORD>(control.rect.h));
    out.Dword(control.id == 0 ? static_cast<DWORD>(-1) : static_cast<DWORD>(control.id));
    WriteClass(out, control.kind);
    out.Text(control.text);
    out.Word(0);  // no creation data
  }
  return out.Take();
}

}  // namespace kelvo

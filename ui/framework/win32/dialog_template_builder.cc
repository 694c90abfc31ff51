#include "ui/framework/win32/dialog_template_builder.h"

#include <richedit.h>

#include "base/windows/win32_text.h"

namespace portwick {

namespace {

constexpr uint16_t kButtonClass = 0x0080;
constexpr uint16_t kEditClass = 0x0081;
constexpr uint16_t kStaticClass = 0x0082;

// Appends little-endian values and UTF-16 strings, keeping the alignment
// the template format asks for (items start on a DWORD boundary).
class TemplateWriter {
 public:
  void Word(uint16_t value) { Raw(&value, sizeof(value)); }
  void Dword(uint32_t value) { Raw(&value, sizeof(value)); }
  void Short(int16_t value) { Raw(&value, sizeof(value)); }
  void Byte(uint8_t value) { bytes_.push_back(value); }
  void String(const std::wstring& text) {
    for (wchar_t c : text) Word(static_cast<uint16_t>(c));
    Word(0);
  }
  void Ordinal(uint16_t value) {
    Word(0xFFFF);
    Word(value);
  }
  void AlignDword() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  void Raw(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
  }

  std::vector<uint8_t> bytes_;
};

std::wstring Text(const char* utf8) { return utf8 != nullptr ? Utf16FromUtf8(utf8) : L""; }

}  // namespace

Win32ControlStyle ControlStyleOf(const ControlTemplate& control) {
  Win32ControlStyle result;
  DWORD common = WS_CHILD;
  if (!(control.style & kStyleHidden)) common |= WS_VISIBLE;
  if (control.style & kStyleDisabled) common |= WS_DISABLED;
  if (control.style & kStyleTabStop) common |= WS_TABSTOP;
  switch (control.kind) {
    case ControlKind::kLabel:
      // A label starts a group; its '&' focuses the next control that
      // takes the focus.
      result.class_ordinal = kStaticClass;
      result.style = common | SS_LEFT | WS_GROUP;
      break;
    case ControlKind::kEdit:
      result.class_ordinal = kEditClass;
      result.style = common | ES_AUTOHSCROLL | ES_LEFT;
      result.ex_style = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::kOutputPane:
      result.class_name = kOutputPaneClass;
      result.style = common | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN |
                     ES_DISABLENOSCROLL | WS_VSCROLL | WS_HSCROLL;
      result.ex_style = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::kCheckBox:
      result.class_ordinal = kButtonClass;
      result.style = common | BS_AUTOCHECKBOX;
      break;
    case ControlKind::kPushButton:
      result.class_ordinal = kButtonClass;
      result.style =
          common | ((control.style & kStyleDefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
      break;
    case ControlKind::kGroupBox:
      result.class_ordinal = kButtonClass;
      result.style = (common & ~WS_TABSTOP) | BS_GROUPBOX;
      result.ex_style = WS_EX_TRANSPARENT;
      break;
    case ControlKind::kIcon:
      result.class_ordinal = kStaticClass;
      result.style = (common & ~WS_TABSTOP) | SS_ICON;
      result.title_ordinal = kProgramIconResource;
      break;
  }
  return result;
}

std::vector<uint8_t> BuildDialogTemplate(const DialogTemplate& dialog_template, DWORD style,
                                         DWORD ex_style) {
  TemplateWriter w;
  const bool own_font = dialog_template.font_family != nullptr;
  w.Word(1);       // dlgVer
  w.Word(0xFFFF);  // signature: the extended form
  w.Dword(0);      // helpID
  w.Dword(ex_style);
  w.Dword(style | DS_SETFONT);
  w.Word(static_cast<uint16_t>(dialog_template.controls.size()));
  w.Short(0);
  w.Short(0);
  w.Short(static_cast<int16_t>(dialog_template.width));
  w.Short(static_cast<int16_t>(dialog_template.height));
  w.Word(0);  // no menu resource
  w.Word(0);  // the predefined dialog class
  w.String(Text(dialog_template.caption));
  const int points = dialog_template.font_point_size > 0 ? dialog_template.font_point_size : 8;
  w.Word(static_cast<uint16_t>(points));
  w.Word(FW_NORMAL);
  w.Byte(0);  // not italic
  w.Byte(DEFAULT_CHARSET);
  w.String(own_font ? Text(dialog_template.font_family) : std::wstring(L"MS Shell Dlg"));

  for (const ControlTemplate& control : dialog_template.controls) {
    const Win32ControlStyle c = ControlStyleOf(control);
    w.AlignDword();
    w.Dword(0);  // helpID
    w.Dword(c.ex_style);
    w.Dword(c.style);
    w.Short(static_cast<int16_t>(control.x));
    w.Short(static_cast<int16_t>(control.y));
    w.Short(static_cast<int16_t>(control.width));
    w.Short(static_cast<int16_t>(control.height));
    w.Dword(static_cast<uint32_t>(control.id));  // kNoControlId becomes 0xFFFFFFFF
    if (c.class_ordinal != 0) {
      w.Ordinal(c.class_ordinal);
    } else {
      w.String(c.class_name);
    }
    if (c.title_ordinal != 0) {
      w.Ordinal(c.title_ordinal);
    } else {
      w.String(Text(control.text));
    }
    w.Word(0);  // no creation data
  }
  return w.Take();
}

}  // namespace portwick

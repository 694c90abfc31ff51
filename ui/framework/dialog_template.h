#ifndef PORTWICK_UI_FRAMEWORK_DIALOG_TEMPLATE_H_
#define PORTWICK_UI_FRAMEWORK_DIALOG_TEMPLATE_H_

#include <cstdint>
#include <span>

namespace portwick {

// One item of a drop-down menu. A null `text` is a separator. `shortcut`
// (a key text such as "Ctrl+L", shown beside the item) may be null.
struct MenuItemTemplate {
  const char* text;
  int command_id;
  const char* shortcut = nullptr;
};

inline constexpr MenuItemTemplate kMenuSeparator{nullptr, 0};

// One drop-down menu of a menu bar; `title` may hold an '&' mnemonic.
struct MenuTemplate {
  const char* title;
  std::span<const MenuItemTemplate> items;
};

// What a template entry turns into (the Qt classes named are those of
// ui/framework/qt/template_dialog.h; under Win32 the predefined STATIC,
// EDIT and BUTTON classes and a RICHEDIT50W pane, see
// ui/framework/win32/dialog_template_builder.h).
enum class ControlKind {
  kLabel,       // QLabel, static text, left aligned; '&' marks a mnemonic that
                // focuses the next control in template order
  kEdit,        // QLineEdit, single line, with a frame
  kOutputPane,  // QPlainTextEdit: multi-line, both scroll bars always shown,
                // no wrapping, editable, Enter inserts a line break
  kCheckBox,    // QCheckBox that toggles itself when clicked
  kPushButton,  // QPushButton
  kGroupBox,    // QGroupBox drawn as a titled frame; transparent for the mouse
                // and stacked below every other control
  kIcon,        // QLabel showing an icon; the entry's text is the icon's
                // resource path (e.g. ":/icons/app.png"); under Win32 an
                // SS_ICON static showing the program's icon resource 128
};

// Style flags of a template entry (bitwise or).
inline constexpr uint32_t kStyleNone = 0;
inline constexpr uint32_t kStyleHidden = 0x1;         // never shown until shown explicitly
inline constexpr uint32_t kStyleTabStop = 0x2;        // reachable with Tab
inline constexpr uint32_t kStyleDefaultButton = 0x4;  // the dialog's default button (push buttons)
inline constexpr uint32_t kStyleDisabled = 0x8;       // created disabled

// Id of controls that are never looked up (labels, frames, icons).
inline constexpr int kNoControlId = -1;

// One control of a dialog template. Coordinates are dialog units, relative to
// the client area (below the menu bar). `text` may be null for no text.
struct ControlTemplate {
  ControlKind kind;
  int id;
  const char* text;
  uint32_t style;
  int x;
  int y;
  int width;
  int height;
};

// A whole dialog. All pointers and spans refer to static tables that outlive
// every dialog made from them.
struct DialogTemplate {
  const char* caption = "";
  int width = 0;   // client width in dialog units
  int height = 0;  // client height in dialog units (menu bar not included)
  // Font the dialog units are measured with; null family or a size <= 0
  // means the application's default dialog font.
  const char* font_family = nullptr;
  int font_point_size = 0;
  // Controls in template order: creation order, tab order, z-order (except
  // group boxes, which go to the bottom).
  std::span<const ControlTemplate> controls;
  // Menus of the menu bar; empty for a dialog without a menu bar.
  std::span<const MenuTemplate> menus;
  // An overlapped window: title bar with minimise, maximise and close boxes
  // and a sizing border. Otherwise a dialog frame whose size stays fixed
  // (until TemplateDialog::EnableResizing).
  bool overlapped = false;
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_DIALOG_TEMPLATE_H_

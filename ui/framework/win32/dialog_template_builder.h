#ifndef PORTWICK_UI_FRAMEWORK_WIN32_DIALOG_TEMPLATE_BUILDER_H_
#define PORTWICK_UI_FRAMEWORK_WIN32_DIALOG_TEMPLATE_BUILDER_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/framework/dialog_template.h"

namespace portwick {

// The program's icon resource, shown by kIcon controls (the template's text
// names a Qt resource path and is not used here).
inline constexpr int kProgramIconResource = 128;

// The window class that output panes are made of (Msftedit.dll's rich edit;
// see RichEditLibrary).
inline constexpr wchar_t kOutputPaneClass[] = L"RICHEDIT50W";

// How one template entry becomes a child window: its class (a predefined
// ordinal, 0x0080 button, 0x0081 edit, 0x0082 static, or a class name), its
// styles, and its text (or, for an icon, the resource ordinal).
struct Win32ControlStyle {
  uint16_t class_ordinal = 0;  // 0: use class_name
  const wchar_t* class_name = nullptr;
  DWORD style = 0;
  DWORD ex_style = 0;
  uint16_t title_ordinal = 0;  // nonzero: the title is this resource ordinal
};

Win32ControlStyle ControlStyleOf(const ControlTemplate& control);

// An in-memory extended dialog template (DLGTEMPLATEEX with its items) for
// CreateDialogIndirectParam: the dialog with `style` and `ex_style`, the
// template's caption, size (client area, dialog units) and font ("MS Shell
// Dlg" 8 when it names none), and every control in template order. Menus
// are not part of it (a template can only name a menu resource); the dialog
// sets its menu bar after creation. Plain data; any thread.
std::vector<uint8_t> BuildDialogTemplate(const DialogTemplate& dialog_template, DWORD style,
                                         DWORD ex_style);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_WIN32_DIALOG_TEMPLATE_BUILDER_H_

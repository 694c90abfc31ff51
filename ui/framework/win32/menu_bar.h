#ifndef PORTWICK_UI_FRAMEWORK_WIN32_MENU_BAR_H_
#define PORTWICK_UI_FRAMEWORK_WIN32_MENU_BAR_H_

#include <windows.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ui/framework/dialog_template.h"

namespace portwick {

// A menu title as the menu bar shows it: a title without an '&' gets one
// before its first letter, so Alt and that letter opens it as under Qt.
std::string MenuTitleWithMnemonic(const char* title);

// A shortcut text such as "Ctrl+L", "Ctrl+Shift+F" or "F3" as an
// accelerator entry for `command_id`; nothing for a text it can't read.
std::optional<ACCEL> AcceleratorOf(const char* shortcut, int command_id);

// A menu bar made from `menus`: its items send WM_COMMAND with their command
// ids, a shortcut shows after a tab and goes into the accelerator table.
// Owns both; the menu is destroyed with the window it is set on, so it
// gives it up when attached. GUI thread only.
class MenuBar {
 public:
  explicit MenuBar(std::span<const MenuTemplate> menus);
  MenuBar(const MenuBar&) = delete;
  MenuBar& operator=(const MenuBar&) = delete;
  ~MenuBar();

  // Sets the menu bar on `window` (SetMenu); from then on the window owns it.
  bool AttachTo(HWND window);
  HMENU menu() const { return menu_; }
  // Null when no item has a shortcut.
  HACCEL accelerators() const { return accelerators_; }

 private:
  HMENU menu_ = nullptr;
  bool attached_ = false;
  HACCEL accelerators_ = nullptr;
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_WIN32_MENU_BAR_H_

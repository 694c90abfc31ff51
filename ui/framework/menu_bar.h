#ifndef PORTWICK_UI_FRAMEWORK_MENU_BAR_H_
#define PORTWICK_UI_FRAMEWORK_MENU_BAR_H_

#include <functional>
#include <span>

class QMenuBar;
class QWidget;

namespace portwick {

// One item of a drop-down menu. A null `text` is a separator. `shortcut`
// (a QKeySequence text such as "Ctrl+L", shown beside the item) may be null.
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

// Builds a menu bar owned by `parent` (Qt parent ownership). Triggering an
// item calls `on_command` with its command id. Each action carries its
// command id as QAction::data() (an int). GUI thread only.
QMenuBar* BuildMenuBar(std::span<const MenuTemplate> menus, QWidget* parent,
                       std::function<void(int command_id)> on_command);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_MENU_BAR_H_

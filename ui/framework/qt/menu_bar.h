#ifndef PORTWICK_UI_FRAMEWORK_QT_MENU_BAR_H_
#define PORTWICK_UI_FRAMEWORK_QT_MENU_BAR_H_

#include <functional>
#include <span>

#include "ui/framework/dialog_template.h"

class QMenuBar;
class QWidget;

namespace portwick {

// Builds a menu bar owned by `parent` (Qt parent ownership). Triggering an
// item calls `on_command` with its command id. Each action carries its
// command id as QAction::data() (an int). GUI thread only.
QMenuBar* BuildMenuBar(std::span<const MenuTemplate> menus, QWidget* parent,
                       std::function<void(int command_id)> on_command);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_QT_MENU_BAR_H_

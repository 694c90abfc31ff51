#include "ui/framework/qt/menu_bar.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace portwick {

QMenuBar* BuildMenuBar(std::span<const MenuTemplate> menus, QWidget* parent,
                       std::function<void(int command_id)> on_command) {
  auto* bar = new QMenuBar(parent);  // owned by parent
  for (const MenuTemplate& menu_template : menus) {
    QMenu* menu = bar->addMenu(QString::fromUtf8(menu_template.title));
    for (const MenuItemTemplate& item : menu_template.items) {
      if (item.text == nullptr) {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(QString::fromUtf8(item.text));
      const int id = item.command_id;
      action->setData(id);
      if (item.shortcut != nullptr) {
        action->setShortcut(QKeySequence(QString::fromLatin1(item.shortcut)));
        // Works wherever the focus is in the window, not only in the bar.
        action->setShortcutContext(Qt::WindowShortcut);
        parent->addAction(action);
      }
      QObject::connect(action, &QAction::triggered, bar, [on_command, id]() { on_command(id); });
    }
  }
  return bar;
}

}  // namespace portwick

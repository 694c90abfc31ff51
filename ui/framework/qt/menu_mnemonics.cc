#include "ui/framework/qt/menu_mnemonics.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenuBar>

namespace portwick {

namespace {

// The key of a title's mnemonic: after '&' ("&&" is a plain '&'), or else
// its first letter or digit.
int MnemonicKey(const QString& title) {
  const QKeySequence marked = QKeySequence::mnemonic(title);
  if (!marked.isEmpty()) return marked[0].key();
  for (QChar c : title) {
    if (c.isLetterOrNumber()) return QKeySequence(QString(c.toUpper()))[0].key();
  }
  return 0;
}

}  // namespace

MenuMnemonics::MenuMnemonics(QWidget* window, QMenuBar* bar)
    : QObject(bar), window_(window), bar_(bar) {
  qApp->installEventFilter(this);
}

MenuMnemonics::~MenuMnemonics() { qApp->removeEventFilter(this); }

QAction* MenuMnemonics::MenuFor(int key) const {
  if (!bar_->isVisible() || !bar_->isEnabled()) return nullptr;
  for (QAction* action : bar_->actions()) {
    if (action->menu() == nullptr || !action->isVisible() || !action->isEnabled()) continue;
    if (MnemonicKey(action->text()) == key) return action;
  }
  return nullptr;
}

bool MenuMnemonics::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != window_) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->modifiers() != Qt::AltModifier) return false;
  QAction* menu = MenuFor(key->key());
  if (menu == nullptr) return false;
  if (type == QEvent::ShortcutOverride) {
    // Taking the override keeps every shortcut of the window (a label's
    // mnemonic) from the key; the key press itself follows, to the focus.
    key->accept();
    return true;
  }
  bar_->setActiveAction(menu);
  return true;
}

}  // namespace portwick

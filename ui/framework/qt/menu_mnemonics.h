#ifndef PORTWICK_UI_FRAMEWORK_QT_MENU_MNEMONICS_H_
#define PORTWICK_UI_FRAMEWORK_QT_MENU_MNEMONICS_H_

#include <QObject>
#include <QPointer>

class QAction;
class QMenuBar;
class QWidget;

namespace portwick {

// Opens a menu of `bar` with Alt and its mnemonic while the focus is in
// `window`: the letter after '&' in its title, or its first letter when the
// title has none, as a desktop menu bar does. A menu's mnemonic goes before
// the mnemonic of any control of the window (a label, a button), and hidden
// or disabled menus take none.
//
// It watches the application's key events (an application event filter), so
// the key reaches no control first. GUI thread only; `window` and `bar` must
// outlive it (make it their child).
class MenuMnemonics : public QObject {
 public:
  MenuMnemonics(QWidget* window, QMenuBar* bar);
  ~MenuMnemonics() override;
  MenuMnemonics(const MenuMnemonics&) = delete;
  MenuMnemonics& operator=(const MenuMnemonics&) = delete;

  // The menu that Alt and `key` opens, or null.
  QAction* MenuFor(int key) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* const window_;
  QMenuBar* const bar_;
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_QT_MENU_MNEMONICS_H_

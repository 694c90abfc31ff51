#ifndef PORTWICK_UI_FRAMEWORK_TEMPLATE_DIALOG_H_
#define PORTWICK_UI_FRAMEWORK_TEMPLATE_DIALOG_H_

#include <QDialog>
#include <map>
#include <memory>
#include <span>

#include "ui/framework/command_map.h"
#include "ui/framework/dialog_template.h"
#include "ui/framework/dialog_units.h"
#include "ui/framework/resize_table.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;

namespace portwick {

class DialogResizer;

// Command ids the dialog raises by itself.
inline constexpr int kCommandOk = 1;
inline constexpr int kCommandCancel = 2;

// A dialog built from a DialogTemplate: an optional menu bar on top and, below
// it, the client area holding every control at its template geometry
// (dialog units converted with the dialog font's base units).
//
// Commands: a push button's click, a check box's click and a menu item's
// trigger each dispatch the control's id (the item's command id) through
// commands(). Esc and the window's close box dispatch kCommandCancel. A
// command 1 or 2 without a handler ends the dialog with that id as result
// (QDialog::done), so a modal exec() returns 1 for OK and 2 for Esc.
//
// Keyboard: Alt and a menu's mnemonic (or first letter) opens that menu,
// before any control's mnemonic; a label's mnemonic focuses the control
// after it, also after ReplaceControl. Tab order is template order; Enter in
// a single-line field presses
// the default button; the output pane keeps Enter for itself.
//
// Widgets are owned through Qt's parent chain by the dialog. The dialog is
// used on the GUI thread only.
class TemplateDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TemplateDialog(const DialogTemplate& dialog_template, QWidget* parent = nullptr);
  TemplateDialog(const TemplateDialog&) = delete;
  TemplateDialog& operator=(const TemplateDialog&) = delete;
  ~TemplateDialog() override;

  // The control with `id`, or null. Typed helpers return null also when the
  // control is of another kind.
  QWidget* Control(int id) const;
  QLabel* Label(int id) const;
  QLineEdit* Edit(int id) const;
  QPlainTextEdit* OutputPane(int id) const;
  QCheckBox* CheckBox(int id) const;
  QPushButton* Button(int id) const;
  QGroupBox* GroupBox(int id) const;

  // The menu action with `command_id`, or null.
  QAction* MenuAction(int command_id) const;
  // Null when the template has no menus.
  QMenuBar* menu_bar() const { return menu_bar_; }
  // Adds a status bar below the client area (once; later calls return the
  // same bar); the dialog grows by its height, so the client area keeps its
  // template size. Call before EnableResizing.
  QStatusBar* AddStatusBar();
  QStatusBar* status_bar() const { return status_bar_; }
  // Parent of every control; control geometries are relative to it.
  QWidget* client() const { return client_; }
  const DialogBaseUnits& base_units() const { return base_units_; }

  // The message map.
  CommandMap& commands() { return commands_; }
  void OnCommand(int command_id, CommandMap::Handler handler);
  // Routes `command_id` as if its control had been clicked.
  void SendCommand(int command_id);

  // Puts `widget` in place of control `id`: same geometry, place in the tab
  // order and stacking, visibility and enabled state; the old control is
  // deleted. Returns the new control, or null (and drops `widget`) when there
  // is no control `id`.
  QWidget* ReplaceControl(int id, std::unique_ptr<QWidget> widget);

  // Set-up of resizing from `table` with the controls where they are now;
  // the dialog's current size becomes its minimum size and it can grow
  // without limit. Call once, after the dialog has its template size and
  // before it is shown.
  void EnableResizing(std::span<const ResizeEntry> table, bool with_grip = true);
  // Null until EnableResizing().
  DialogResizer* resizer() const { return resizer_.get(); }

  // Centres the dialog on its screen's available area (before first show).
  void CenterOnScreen();

  // Ends a modeless dialog's window: hides it; later close requests are no
  // longer routed as commands. The object stays alive for its owner.
  void DestroyWindow();
  bool window_destroyed() const { return window_destroyed_; }

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void CreateControls(const DialogTemplate& dialog_template);
  QWidget* CreateControl(const ControlTemplate& control);
  void RouteCommand(int command_id);
  void PlaceClient();

  DialogBaseUnits base_units_;
  CommandMap commands_;
  QMenuBar* menu_bar_ = nullptr;      // owned by this dialog (Qt parent)
  QWidget* client_ = nullptr;         // owned by this dialog (Qt parent)
  QStatusBar* status_bar_ = nullptr;  // owned by this dialog (Qt parent)
  std::map<int, QWidget*> controls_;  // children of client_
  std::unique_ptr<DialogResizer> resizer_;
  bool window_destroyed_ = false;
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_TEMPLATE_DIALOG_H_

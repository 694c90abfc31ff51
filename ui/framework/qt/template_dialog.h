#ifndef PORTWICK_UI_FRAMEWORK_QT_TEMPLATE_DIALOG_H_
#define PORTWICK_UI_FRAMEWORK_QT_TEMPLATE_DIALOG_H_

#include <QDialog>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>

#include "ui/framework/command_map.h"
#include "ui/framework/dialog.h"
#include "ui/framework/dialog_template.h"
#include "ui/framework/qt/dialog_units.h"
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
class QTimer;

namespace portwick {

class DialogResizer;

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
// It is the Qt implementation of Dialog: windows written against Dialog get
// one from CreateDialog(); tests that look at the drawing reach the widgets
// through QtDialogOf().
//
// Widgets are owned through Qt's parent chain by the dialog. The dialog is
// used on the GUI thread only.
class TemplateDialog : public QDialog, public Dialog {
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
  void OnCommand(int command_id, CommandMap::Handler handler) override;
  // Routes `command_id` as if its control had been clicked.
  void SendCommand(int command_id) override;

  // Dialog.
  void Show() override;
  void SetTitle(const std::string& title) override;
  std::string Title() const override;
  void SetProgramIcon() override;
  void CenterOver(NativeWindow owner) override;
  int RunModal() override;
  NativeWindow native_window() const override;
  bool HasControl(int id) const override;
  bool GetControlText(int id, std::string* text) const override;
  bool SetControlText(int id, const std::string& text) override;
  bool GetCheck(int id, int32_t* state) const override;
  bool SetCheck(int id, int32_t state) override;
  bool EnableControl(int id, bool enabled) override;
  bool IsControlEnabled(int id) const override;
  bool ShowControl(int id, bool shown) override;
  bool FocusControl(int id) override;
  int FocusedControl() const override;
  bool SetCueBanner(int id, const std::string& text) override;
  bool SetControlTip(int id, const std::string& text) override;
  // Puts an OutputPaneWidget in place of the pane.
  PaneControl* AttachOutputPane(int id) override;
  // Puts a HyperLinkStatic in place of the label.
  bool MakeLink(int id, const std::string& address, UrlOpener open) override;
  // A selectable QLabel named "status_line" filling the status bar.
  void AddStatusLine() override;
  void SetStatusText(const std::string& text) override;
  std::string StatusText() const override;
  void SetStatusTip(const std::string& text) override;
  void SetTimer(int timer_id, std::chrono::milliseconds interval,
                std::function<void()> tick) override;
  void KillTimer(int timer_id) override;

  // Puts `widget` in place of control `id`: same geometry, place in the tab
  // order and stacking, visibility and enabled state; the old control is
  // deleted. Returns the new control, or null (and drops `widget`) when there
  // is no control `id`.
  QWidget* ReplaceControl(int id, std::unique_ptr<QWidget> widget);

  // Set-up of resizing from `table` with the controls where they are now;
  // the dialog's current size becomes its minimum size and it can grow
  // without limit. Call once, after the dialog has its template size and
  // before it is shown.
  void EnableResizing(std::span<const ResizeEntry> table, bool with_grip = true) override;
  // Null until EnableResizing().
  DialogResizer* resizer() const { return resizer_.get(); }

  // Centres the dialog on its screen's available area (before first show).
  void CenterOnScreen() override;

  // Ends a modeless dialog's window: hides it; later close requests are no
  // longer routed as commands. The object stays alive for its owner.
  void DestroyWindow() override;
  bool window_destroyed() const override { return window_destroyed_; }

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
  QLabel* status_line_ = nullptr;     // owned by status_bar_ (Qt parent)
  std::map<int, QWidget*> controls_;  // children of client_
  std::map<int, QTimer*> timers_;     // owned by this dialog (Qt parent)
  std::unique_ptr<DialogResizer> resizer_;
  bool window_destroyed_ = false;
};

// The Qt dialog behind `dialog`: every Dialog of this toolkit is one.
TemplateDialog* QtDialogOf(Dialog* dialog);
TemplateDialog& QtDialogOf(Dialog& dialog);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_QT_TEMPLATE_DIALOG_H_

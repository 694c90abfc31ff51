#ifndef PORTWICK_UI_FRAMEWORK_WIN32_WIN32_DIALOG_H_
#define PORTWICK_UI_FRAMEWORK_WIN32_WIN32_DIALOG_H_

#include <windows.h>
// <windows.h> spells CreateDialog as a macro; here it is the toolkit's
// neutral function (ui/framework/dialog.h).
#undef CreateDialog

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "ui/framework/command_map.h"
#include "ui/framework/dialog.h"
#include "ui/framework/dialog_template.h"
#include "ui/framework/resize_table.h"

namespace portwick {

class MenuBar;
class Win32DialogResizer;
class Win32HyperLink;
class Win32OutputPane;

// Id of the status bar a dialog gets with AddStatusLine().
inline constexpr int kStatusBarId = 59394;

// A dialog built by the Win32 dialog manager from a DialogTemplate (an
// in-memory extended template, CreateDialogIndirectParam): controls, tab
// order and dialog units are the dialog manager's; the menu bar is set on it
// after creation and the window grows so that the client area keeps the
// template's size.
//
// Commands: WM_COMMAND with a button's click (BN_CLICKED), a menu item or an
// accelerator dispatches its id through the command map; other notifications
// (an edit's EN_CHANGE, ...) are not commands. Esc and Enter come from
// IsDialogMessage (IDCANCEL, the default button's id), the close box from
// WM_CLOSE as kCommandCancel. A command 1 or 2 without a handler ends a
// modal run with that id, and hides a modeless dialog.
//
// The keyboard: the thread's loops give each message to the dialog manager
// (TranslateDialogMessage, dialog_keyboard.h), with the menu shortcuts as
// accelerators. A label's '&' focuses the next control that takes the
// focus; a control's mnemonic wins over a menu title's there, so the
// templates keep them apart. Output panes give Tab and Esc to the dialog.
//
// Everything on the GUI thread that made it. Child controls, the menu and
// the fonts go with the window, which the destructor destroys.
class Win32Dialog : public Dialog {
 public:
  Win32Dialog(const DialogTemplate& dialog_template, DialogFrame frame, HWND owner);
  Win32Dialog(const Win32Dialog&) = delete;
  Win32Dialog& operator=(const Win32Dialog&) = delete;
  ~Win32Dialog() override;

  // False when the dialog manager could not make the window (a control's
  // class is missing, ...): every other call then does nothing.
  bool created() const { return hwnd_ != nullptr; }
  HWND hwnd() const { return hwnd_; }
  // The control with `id` (null for kNoControlId and ids the dialog lacks).
  HWND Control(int id) const;
  HMENU menu() const;
  HWND status_bar() const { return status_bar_; }
  Win32DialogResizer* resizer() const { return resizer_.get(); }
  Win32HyperLink* Link(int id) const;
  Win32OutputPane* Pane(int id) const;
  bool in_modal() const { return in_modal_; }

  // Dialog.
  void Show() override;
  void SetTitle(const std::string& title) override;
  std::string Title() const override;
  void SetProgramIcon() override;
  void CenterOnScreen() override;
  void CenterOver(NativeWindow owner) override;
  void EnableResizing(std::span<const ResizeEntry> table, bool with_grip = true) override;
  int RunModal() override;
  void DestroyWindow() override;
  bool window_destroyed() const override { return window_destroyed_; }
  NativeWindow native_window() const override { return hwnd_; }
  void OnCommand(int command_id, CommandMap::Handler handler) override;
  void SendCommand(int command_id) override;
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
  PaneControl* AttachOutputPane(int id) override;
  bool MakeLink(int id, const std::string& address, UrlOpener open) override;
  void AddStatusLine() override;
  void SetStatusText(const std::string& text) override;
  std::string StatusText() const override { return status_text_; }
  void SetStatusTip(const std::string& text) override;
  void SetTimer(int timer_id, std::chrono::milliseconds interval,
                std::function<void()> tick) override;
  void KillTimer(int timer_id) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnCommandMessage(WPARAM wparam, LPARAM lparam);
  void RouteCommand(int command_id);
  // Grows the window so that the client area is `width` x `height` pixels.
  void GrowClientTo(int width, int height);
  std::optional<ControlKind> KindOf(int id) const;

  const DialogFrame frame_;
  std::map<int, ControlKind> kinds_;  // the template's controls by id (first of each id)
  HWND hwnd_ = nullptr;
  std::unique_ptr<MenuBar> menu_bar_;
  CommandMap commands_;
  std::unique_ptr<Win32DialogResizer> resizer_;
  std::map<int, std::unique_ptr<Win32OutputPane>> panes_;
  std::map<int, std::unique_ptr<Win32HyperLink>> links_;
  std::map<int, std::function<void()>> timers_;
  HWND status_bar_ = nullptr;  // child of hwnd_
  int status_height_ = 0;
  std::string status_text_;
  HWND tooltip_ = nullptr;  // owned: the controls' tips
  HICON big_icon_ = nullptr;
  HICON small_icon_ = nullptr;
  SIZE fixed_size_{0, 0};  // the window's size while it can't be resized
  int remembered_focus_ = kNoControlId;
  bool shown_once_ = false;
  bool window_destroyed_ = false;
  bool in_modal_ = false;
  std::optional<int> modal_result_;
};

// The Win32 dialog behind `dialog`: every Dialog of this toolkit is one.
Win32Dialog& Win32DialogOf(Dialog& dialog);
Win32Dialog* Win32DialogOf(Dialog* dialog);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_WIN32_WIN32_DIALOG_H_

#ifndef PORTWICK_UI_FRAMEWORK_DIALOG_H_
#define PORTWICK_UI_FRAMEWORK_DIALOG_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "ui/framework/command_map.h"
#include "ui/framework/desktop.h"
#include "ui/framework/dialog_template.h"
#include "ui/framework/native_window.h"
#include "ui/framework/resize_table.h"

// <windows.h> spells CreateDialog as a macro; below it is the toolkit's
// function of that name.
#ifdef CreateDialog
#undef CreateDialog
#endif

namespace portwick {

class PaneControl;

// Command ids the dialog raises by itself.
inline constexpr int kCommandOk = 1;
inline constexpr int kCommandCancel = 2;

// How a dialog's frame behaves.
enum class DialogFrame {
  // A main window: caption with system menu, minimise, maximise and close
  // boxes, a sizing border once resizing is enabled; shown modelessly.
  kOverlapped,
  // A modal box of fixed size: caption, system menu and close box.
  kModal,
};

// A window made from a DialogTemplate, as windows of the program see it
// whatever the toolkit: controls by their template id, commands by id (a
// push button's or check box's click, a menu item, Esc and the close box as
// kCommandCancel), a status line, timers. Strings are UTF-8.
//
// Calls naming a control that the dialog lacks, or one of a kind that cannot
// do what is asked, return false and change nothing.
//
// Made by CreateDialog(); owned by the window that made it. GUI thread only.
class Dialog {
 public:
  virtual ~Dialog() = default;

  // The window itself.
  virtual void Show() = 0;
  virtual void SetTitle(const std::string& title) = 0;
  virtual std::string Title() const = 0;
  // The program's icon (resource 128) in the caption and task bar.
  virtual void SetProgramIcon() = 0;
  // Centres the window on its screen's available area (before first show).
  virtual void CenterOnScreen() = 0;
  // Centres the window over `owner`, pulled back inside the owner's screen
  // where it would leave it; on the screen when `owner` is null.
  virtual void CenterOver(NativeWindow owner) = 0;
  // Lets the controls follow the window's size as `table` says; the current
  // size becomes the minimum. Call once, before the window is shown.
  virtual void EnableResizing(std::span<const ResizeEntry> table, bool with_grip = true) = 0;
  // Runs the dialog modally until a command ends it; returns that command's
  // id (kCommandOk, kCommandCancel) when no handler took it.
  virtual int RunModal() = 0;
  // Ends a modeless window: hides it; later close requests are no longer
  // routed as commands. The object stays alive for its owner.
  virtual void DestroyWindow() = 0;
  virtual bool window_destroyed() const = 0;
  // The toolkit's window, for owners of other dialogs and for messages.
  virtual NativeWindow native_window() const = 0;

  // The message map: `handler` runs for `command_id`, replacing an earlier
  // one; an empty handler removes it.
  virtual void OnCommand(int command_id, CommandMap::Handler handler) = 0;
  // Routes `command_id` as if its control had been clicked.
  virtual void SendCommand(int command_id) = 0;

  // Controls.
  virtual bool HasControl(int id) const = 0;
  // Text of a label, edit, output pane, check box, push button or group box.
  virtual bool GetControlText(int id, std::string* text) const = 0;
  virtual bool SetControlText(int id, const std::string& text) = 0;
  // Check state of a check box: 0 unchecked, 1 checked, 2 indeterminate
  // (which the box drops again at the user's next click).
  virtual bool GetCheck(int id, int32_t* state) const = 0;
  virtual bool SetCheck(int id, int32_t state) = 0;
  virtual bool EnableControl(int id, bool enabled) = 0;
  // False also for ids the dialog lacks.
  virtual bool IsControlEnabled(int id) const = 0;
  virtual bool ShowControl(int id, bool shown) = 0;
  virtual bool FocusControl(int id) = 0;
  // The control that has (or gets when the window is activated) the keyboard
  // focus; kNoControlId when it is none of the template's.
  virtual int FocusedControl() const = 0;
  // The grey hint an empty edit shows.
  virtual bool SetCueBanner(int id, const std::string& text) = 0;
  virtual bool SetControlTip(int id, const std::string& text) = 0;
  // Turns output pane `id` into the program's output pane (bounded, fed from
  // any thread). Null when there is no pane `id`. Owned by the dialog.
  virtual PaneControl* AttachOutputPane(int id) = 0;
  // Turns label `id` into a link to `address`, opened with `open`.
  virtual bool MakeLink(int id, const std::string& address, UrlOpener open) = 0;

  // The status line below the client area: added once (the window grows by
  // its height; call before EnableResizing), then its text and tooltip.
  virtual void AddStatusLine() = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  // Empty without a status line.
  virtual std::string StatusText() const = 0;
  virtual void SetStatusTip(const std::string& text) = 0;

  // Calls `tick` every `interval` on the GUI thread until KillTimer(`timer_id`)
  // or the dialog's end; setting an id again replaces its timer.
  virtual void SetTimer(int timer_id, std::chrono::milliseconds interval,
                        std::function<void()> tick) = 0;
  virtual void KillTimer(int timer_id) = 0;
};

// Builds a dialog from `dialog_template` (hidden) with `frame`, owned by the
// window `owner` (may be null). The template must outlive the dialog.
// Defined once per toolkit. GUI thread only.
std::unique_ptr<Dialog> CreateDialog(const DialogTemplate& dialog_template, DialogFrame frame,
                                     NativeWindow owner = nullptr);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_DIALOG_H_

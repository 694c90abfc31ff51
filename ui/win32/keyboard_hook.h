#ifndef PORTWICK_UI_WIN32_KEYBOARD_HOOK_H_
#define PORTWICK_UI_WIN32_KEYBOARD_HOOK_H_

#include <windows.h>

namespace portwick {

// A modeless top-level window that handles its own keys as a dialog does
// (accelerators, Tab and mnemonics through IsDialogMessage) whatever message
// loop the thread runs: the main window's, a test's, or one inside a modal
// dialog of another window. While at least one target is added, a
// WH_GETMESSAGE hook of the thread offers each keyboard message removed
// from the queue for a target's window or its controls to that target
// first; a message it consumes reaches the loop as WM_NULL.
class KeyboardTarget {
 public:
  virtual ~KeyboardTarget() = default;
  // The target's top-level window (null: none yet).
  virtual HWND window() const = 0;
  // True when the target handled `message` (a key message for its window
  // or a control in it); it is then not translated or dispatched again.
  virtual bool PreTranslate(MSG* message) = 0;
};

// GUI thread only (the hook is the calling thread's). A target must be
// removed before it is destroyed; adding one twice adds it once. False when
// the hook could not be set.
bool AddKeyboardTarget(KeyboardTarget* target);
void RemoveKeyboardTarget(KeyboardTarget* target);

}  // namespace portwick

#endif  // PORTWICK_UI_WIN32_KEYBOARD_HOOK_H_

#ifndef PORTWICK_UI_FRAMEWORK_WIN32_DIALOG_KEYBOARD_H_
#define PORTWICK_UI_FRAMEWORK_WIN32_DIALOG_KEYBOARD_H_

#include <windows.h>

namespace portwick {

// The windows of this thread whose keyboard the dialog manager handles
// (IsDialogMessage: Tab, arrows, mnemonics, Enter for the default button,
// Esc as IDCANCEL), each with its accelerator table (may be null) for menu
// shortcuts such as Ctrl+L. Every message loop of the thread (MessageLoop,
// modal loops, waits that serve events) hands its messages to
// TranslateDialogMessage() before translating and dispatching them.
//
// A window is added once it exists and removed before it is destroyed; the
// accelerator table is borrowed and must outlive the entry. GUI thread only
// (the list is per thread).
void AddDialogWindow(HWND window, HACCEL accelerators);
void RemoveDialogWindow(HWND window);

// Offers `msg` to the accelerators and then to IsDialogMessage of the listed
// window it belongs to (its top-level ancestor). True when one of them took
// it: it must then not be translated or dispatched.
bool TranslateDialogMessage(MSG* msg);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_WIN32_DIALOG_KEYBOARD_H_

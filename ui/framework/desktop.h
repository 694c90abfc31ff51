#ifndef PORTWICK_UI_FRAMEWORK_DESKTOP_H_
#define PORTWICK_UI_FRAMEWORK_DESKTOP_H_

#include <functional>
#include <string>

#include "ui/framework/native_window.h"

namespace portwick {

// What the desktop offers every window, whatever the toolkit. Each toolkit
// defines these functions once (ui/framework/qt/desktop_qt.cc).
// GUI thread only.

// Asks the desktop to open a web address; returns whether it reported
// success. Tests put a recorder here so that no browser is ever started.
using UrlOpener = std::function<bool(const std::string& address)>;

// Opens `address` (a strict URL) with the desktop's browser.
bool OpenUrlInBrowser(const std::string& address);

// The desktop's warning sound.
void Beep();

// Handles the events waiting for the GUI thread and returns; nothing when
// the toolkit has not started.
void ServePendingEvents();

// Ends the toolkit's current event loop with `exit_code` (for a window whose
// thread has no MessageLoop).
void QuitApplication(int exit_code);

// The window that has the keyboard focus now, or null.
NativeWindow ActiveWindow();

// Puts `text` (UTF-8) on the clipboard.
void SetClipboardText(const std::string& text);

// A message box over `owner` (may be null) with `text` shown as plain text,
// the error icon and an OK button; returns when the user has closed it.
void ShowErrorBox(NativeWindow owner, const std::string& text);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_DESKTOP_H_

#ifndef PORTWICK_TESTS_UI_WIN32_WIN32_TEST_SUPPORT_H_
#define PORTWICK_TESTS_UI_WIN32_WIN32_TEST_SUPPORT_H_

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace portwick::testing {

// Serves this thread's messages (through the dialog manager, as the loops
// do) until `condition` holds or `timeout_ms` has passed; returns the
// condition's last value.
bool ServeUntil(const std::function<bool()>& condition, int timeout_ms = 5000);

// Serves the messages that are waiting now.
void ServeWaiting();

// Posts a key press and release of `virtual_key` to `window` as the
// keyboard would (WM_KEYDOWN / WM_KEYUP, or the WM_SYS forms with Alt held),
// with the thread's key state showing `modifiers` (VK_CONTROL, VK_SHIFT,
// VK_MENU) held while the press is served. Serves the messages it made.
void PressKey(HWND window, UINT virtual_key, std::vector<UINT> modifiers = {});

// Alt and `letter` as the dialog manager sees it: WM_SYSCHAR to `window`.
// A drop-down menu that opens on it is recorded and closed at once.
// Returns the title of the menu that opened, or "" when none did.
std::string PressAltLetter(HWND dialog, HWND window, wchar_t letter);

// The window's title.
std::string WindowTitle(HWND window);

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_UI_WIN32_WIN32_TEST_SUPPORT_H_

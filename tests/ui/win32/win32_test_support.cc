#include "win32_test_support.h"

#include <commctrl.h>

#include "base/windows/win32_text.h"
#include "ui/framework/win32/dialog_keyboard.h"

namespace portwick::testing {

namespace {

constexpr UINT_PTR kMenuWatcher = 0x4D57;

struct MenuWatch {
  HMENU bar = nullptr;
  std::string opened;
};

// Records the drop-down that opens and ends the menu's modal loop as soon
// as it is idle.
LRESULT CALLBACK WatchMenus(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                            UINT_PTR /*id*/, DWORD_PTR data) {
  auto* watch = reinterpret_cast<MenuWatch*>(data);
  if (message == WM_INITMENUPOPUP && watch->opened.empty()) {
    const int count = GetMenuItemCount(watch->bar);
    for (int i = 0; i < count; ++i) {
      if (GetSubMenu(watch->bar, i) == reinterpret_cast<HMENU>(wparam)) {
        wchar_t title[64] = {};
        GetMenuStringW(watch->bar, static_cast<UINT>(i), title, 64, MF_BYPOSITION);
        watch->opened = Utf8FromUtf16(title);
      }
    }
  }
  if (message == WM_ENTERIDLE && wparam == MSGF_MENU) EndMenu();
  return DefSubclassProc(window, message, wparam, lparam);
}

void Dispatch(MSG* msg) {
  if (!TranslateDialogMessage(msg)) {
    TranslateMessage(msg);
    DispatchMessageW(msg);
  }
}

}  // namespace

void ServeWaiting() {
  MSG msg{};
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) Dispatch(&msg);
}

bool ServeUntil(const std::function<bool()>& condition, int timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
  while (!condition()) {
    if (GetTickCount64() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    ServeWaiting();
  }
  return true;
}

void PressKey(HWND window, UINT virtual_key, std::vector<UINT> modifiers) {
  BYTE saved[256] = {};
  GetKeyboardState(saved);
  BYTE held[256];
  std::copy(std::begin(saved), std::end(saved), std::begin(held));
  bool alt = false;
  for (UINT modifier : modifiers) {
    held[modifier] = 0x80;
    alt = alt || modifier == VK_MENU;
  }
  SetKeyboardState(held);
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC)) << 16;
  const LPARAM context = alt ? (LPARAM{1} << 29) : 0;
  PostMessageW(window, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, virtual_key, 1 | scan | context);
  PostMessageW(window, alt ? WM_SYSKEYUP : WM_KEYUP, virtual_key,
               1 | scan | context | (LPARAM{3} << 30));
  ServeWaiting();
  SetKeyboardState(saved);
}

std::string PressAltLetter(HWND dialog, HWND window, wchar_t letter) {
  MenuWatch watch{GetMenu(dialog), {}};
  SetWindowSubclass(dialog, WatchMenus, kMenuWatcher, reinterpret_cast<DWORD_PTR>(&watch));
  PostMessageW(window, WM_SYSCHAR, letter, 1 | (LPARAM{1} << 29));
  ServeWaiting();
  RemoveWindowSubclass(dialog, WatchMenus, kMenuWatcher);
  return watch.opened;
}

std::string WindowTitle(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return Utf8FromUtf16(text);
}

}  // namespace portwick::testing

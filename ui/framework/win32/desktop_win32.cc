// The desktop under Win32: the shell's browser, beeps, pending messages,
// the clipboard and message boxes.
// <windows.h> comes first.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cstring>

#include "base/windows/win32_text.h"
#include "ui/framework/desktop.h"
#include "ui/framework/win32/dialog_keyboard.h"

namespace portwick {

namespace {

bool StartsWithIgnoringCase(const std::string& text, const char* prefix) {
  const size_t n = std::strlen(prefix);
  return text.size() > n && _strnicmp(text.c_str(), prefix, n) == 0;
}

}  // namespace

bool OpenUrlInBrowser(const std::string& address) {
  // The shell opens anything it is handed, programs and documents too:
  // only web addresses go there.
  if (!StartsWithIgnoringCase(address, "https://") && !StartsWithIgnoringCase(address, "http://")) {
    return false;
  }
  const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(
      nullptr, L"open", Utf16FromUtf8(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

void Beep() { MessageBeep(0xFFFFFFFF); }

void ServePendingEvents() {
  MSG msg{};
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Not ours to take: the loop outside ends on it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (!TranslateDialogMessage(&msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

void QuitApplication(int exit_code) { PostQuitMessage(exit_code); }

NativeWindow ActiveWindow() { return GetActiveWindow(); }

void SetClipboardText(const std::string& text) {
  const std::wstring wide = Utf16FromUtf8(text);
  const size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (memory == nullptr) return;
  if (void* target = GlobalLock(memory)) {
    std::memcpy(target, wide.c_str(), bytes);
    GlobalUnlock(memory);
  }
  if (!OpenClipboard(nullptr)) {
    GlobalFree(memory);
    return;
  }
  EmptyClipboard();
  // The clipboard owns the memory once it took it.
  if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
  CloseClipboard();
}

void ShowErrorBox(NativeWindow owner, const std::string& text) {
  // No caption of its own: the system's default ("Error") shows.
  MessageBoxW(static_cast<HWND>(owner), Utf16FromUtf8(text).c_str(), nullptr, MB_OK | MB_ICONERROR);
}

}  // namespace portwick

#include "ui/framework/win32/dialog_keyboard.h"

#include <map>

namespace portwick {

namespace {

std::map<HWND, HACCEL>& DialogWindows() {
  thread_local std::map<HWND, HACCEL> windows;
  return windows;
}

}  // namespace

void AddDialogWindow(HWND window, HACCEL accelerators) {
  if (window != nullptr) DialogWindows()[window] = accelerators;
}

void RemoveDialogWindow(HWND window) { DialogWindows().erase(window); }

bool TranslateDialogMessage(MSG* msg) {
  if (msg->hwnd == nullptr) return false;
  HWND root = GetAncestor(msg->hwnd, GA_ROOT);
  auto it = DialogWindows().find(root);
  if (it == DialogWindows().end()) return false;
  if (it->second != nullptr && TranslateAcceleratorW(root, it->second, msg) != 0) return true;
  return IsDialogMessageW(root, msg) != 0;
}

}  // namespace portwick

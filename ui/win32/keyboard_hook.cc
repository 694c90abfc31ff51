#include "ui/win32/keyboard_hook.h"

#include <algorithm>
#include <vector>

namespace portwick {

namespace {

struct ThreadHook {
  HHOOK hook = nullptr;
  std::vector<KeyboardTarget*> targets;
};

ThreadHook& ThisThread() {
  thread_local ThreadHook state;
  return state;
}

bool IsKeyMessage(UINT message) { return message >= WM_KEYFIRST && message <= WM_KEYLAST; }

LRESULT CALLBACK GetMessageHook(int code, WPARAM removal, LPARAM message_pointer) {
  if (code == HC_ACTION && removal == PM_REMOVE) {
    MSG* message = reinterpret_cast<MSG*>(message_pointer);
    if (IsKeyMessage(message->message) && message->hwnd != nullptr) {
      // A copy: a target may add or remove targets while it handles a key.
      const std::vector<KeyboardTarget*> targets = ThisThread().targets;
      for (KeyboardTarget* target : targets) {
        const HWND window = target->window();
        if (window == nullptr || (message->hwnd != window && !IsChild(window, message->hwnd))) {
          continue;
        }
        if (target->PreTranslate(message)) {
          message->message = WM_NULL;
          message->wParam = 0;
          message->lParam = 0;
        }
        break;
      }
    }
  }
  return CallNextHookEx(nullptr, code, removal, message_pointer);
}

}  // namespace

bool AddKeyboardTarget(KeyboardTarget* target) {
  ThreadHook& state = ThisThread();
  if (std::find(state.targets.begin(), state.targets.end(), target) != state.targets.end()) {
    return true;
  }
  if (state.hook == nullptr) {
    state.hook = SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, GetCurrentThreadId());
    if (state.hook == nullptr) return false;
  }
  state.targets.push_back(target);
  return true;
}

void RemoveKeyboardTarget(KeyboardTarget* target) {
  ThreadHook& state = ThisThread();
  std::erase(state.targets, target);
  if (state.targets.empty() && state.hook != nullptr) {
    UnhookWindowsHookEx(state.hook);
    state.hook = nullptr;
  }
}

}  // namespace portwick

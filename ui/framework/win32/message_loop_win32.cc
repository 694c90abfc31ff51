// The Win32 side of MessageLoop: GetMessage/PeekMessage, the filters, the
// dialog manager's keyboard handling and idle work when the queue runs empty.
#include <windows.h>

#include "ui/framework/message_loop.h"
#include "ui/framework/win32/dialog_keyboard.h"
#include "ui/framework/win32/native_message.h"

namespace portwick {

Message MessageFrom(const NativeMessage& native) {
  Message message;
  message.native = &native;
  const MSG& msg = native.msg;
  switch (msg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      message.kind = MessageKind::kKeyDown;
      // Bit 30: the key was down before this message, a repeat.
      message.auto_repeat = (msg.lParam & (LPARAM{1} << 30)) != 0;
      break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      message.kind = MessageKind::kKeyUp;
      break;
    default:
      return message;
  }
  message.key = msg.wParam == VK_ESCAPE ? kKeyEscape : kKeyOther;
  message.window = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  return message;
}

bool RestartsIdle(UINT message) {
  switch (message) {
    case WM_PAINT:
    case WM_NCMOUSEMOVE:
    case 0x0118:  // the system timer (caret blink)
    case WM_MOUSEMOVE:
    case WM_TIMER:
    case WM_NULL:
    case WM_MOUSEHOVER:
    case WM_MOUSELEAVE:
    case WM_NCMOUSELEAVE:
    case kPaneDeliveryMessage:
      return false;
    default:
      return true;
  }
}

// Marks that Run() is active; a quit then wakes its GetMessage.
class LoopEventTap {};

MessageLoop::MessageLoop() = default;

MessageLoop::~MessageLoop() = default;

int MessageLoop::Run() {
  do_idle_ = true;
  idle_count_ = 0;
  tap_ = std::make_unique<LoopEventTap>();
  int code = 0;
  MSG msg{};
  for (;;) {
    if (quit_requested_) {
      code = quit_code_;
      break;
    }
    while (do_idle_ && !quit_requested_ && !PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!OnIdle(idle_count_++)) do_idle_ = false;
    }
    if (quit_requested_) continue;
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) continue;
    if (got == 0) {
      // Someone else's PostQuitMessage (QuitApplication) ends the loop too.
      code = quit_requested_ ? quit_code_ : static_cast<int>(msg.wParam);
      break;
    }
    const NativeMessage native{msg};
    current_message_ = MessageFrom(native);
    const bool consumed = PreTranslateMessage(current_message_);
    current_message_ = Message{};
    if (!consumed && !TranslateDialogMessage(&msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (RestartsIdle(msg.message)) {
      do_idle_ = true;
      idle_count_ = 0;
    }
  }
  tap_.reset();
  quit_requested_ = false;
  quit_code_ = 0;
  return code;
}

void MessageLoop::EndRun() {
  // Wakes a GetMessage that waits; Run() looks at the recorded request
  // before it waits again. Nested loops just pass the empty message on.
  if (tap_) PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
}

}  // namespace portwick

#ifndef PORTWICK_UI_FRAMEWORK_WIN32_NATIVE_MESSAGE_H_
#define PORTWICK_UI_FRAMEWORK_WIN32_NATIVE_MESSAGE_H_

#include <windows.h>

#include "ui/framework/message_filter.h"

namespace portwick {

// Under Win32 a message is the MSG the loop retrieved, borrowed for the one
// call it is offered in. GUI thread only.
struct NativeMessage {
  MSG msg{};
};

// The neutral message for `native`: key presses (WM_KEYDOWN, WM_SYSKEYDOWN
// with their repeats) and releases, the key when it is Esc, and the
// top-level window the message is addressed to.
Message MessageFrom(const NativeMessage& native);

// Private messages of this toolkit (posted to its own windows).
inline constexpr UINT kPaneDeliveryMessage = WM_APP + 0x50;  // queued pane text waits

// Whether `message` restarts idle processing: everything but painting,
// pointer motion and hovering, timers, empty wake-ups and the toolkit's own
// posted notifications.
bool RestartsIdle(UINT message);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_WIN32_NATIVE_MESSAGE_H_

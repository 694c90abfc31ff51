#ifndef PORTWICK_UI_FRAMEWORK_MESSAGE_FILTER_H_
#define PORTWICK_UI_FRAMEWORK_MESSAGE_FILTER_H_

#include "ui/framework/native_window.h"

namespace portwick {

// The toolkit's own form of a message (Qt: the receiver and the event, see
// ui/framework/qt/native_message.h; Win32: the MSG).
struct NativeMessage;

enum class MessageKind {
  kOther,
  kKeyDown,  // a key press, its repeats, and a shortcut's look at a press
  kKeyUp,
};

// Keys the neutral part of a message names (the virtual-key codes); other
// keys come as kKeyOther.
inline constexpr int kKeyOther = 0;
inline constexpr int kKeyEscape = 0x1B;

// One message as the message loop sees it. Valid only during the call it is
// passed to.
struct Message {
  const NativeMessage* native = nullptr;
  MessageKind kind = MessageKind::kOther;
  int key = kKeyOther;       // key messages
  bool auto_repeat = false;  // key messages: a repeat of a held key
  // The top-level window the message is delivered to; null when it goes to
  // no window.
  NativeWindow window = nullptr;
};

// A window that wants to see the loop's messages before they are delivered
// implements this and adds itself with MessageLoop::AddMessageFilter(). It
// must stay valid while it is in the loop's list. Called on the loop's thread.
class MessageFilter {
 public:
  virtual ~MessageFilter() = default;

  // True when the filter consumed the message; it is then not delivered.
  virtual bool PreTranslateMessage(const Message& message) = 0;
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_MESSAGE_FILTER_H_

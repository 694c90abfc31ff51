#ifndef PORTWICK_UI_FRAMEWORK_MESSAGE_FILTER_H_
#define PORTWICK_UI_FRAMEWORK_MESSAGE_FILTER_H_

class QEvent;
class QObject;

namespace portwick {

// One event as the message loop sees it: the object it is delivered to and
// the event. Valid only during the call it is passed to.
struct Message {
  QObject* receiver = nullptr;
  QEvent* event = nullptr;
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

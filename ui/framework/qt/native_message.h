#ifndef PORTWICK_UI_FRAMEWORK_QT_NATIVE_MESSAGE_H_
#define PORTWICK_UI_FRAMEWORK_QT_NATIVE_MESSAGE_H_

#include <QEvent>
#include <QObject>

#include "ui/framework/message_filter.h"

namespace portwick {

// Under Qt a message is an event and the object it is delivered to, both
// borrowed for the one call the message is offered in. GUI thread only.
struct NativeMessage {
  QObject* receiver = nullptr;
  QEvent* event = nullptr;
};

// The neutral message for `native`: kind, key and the top-level widget the
// receiver belongs to (a widget's window, or the widget a QWindow shows).
Message MessageFrom(const NativeMessage& native);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_QT_NATIVE_MESSAGE_H_

// The Qt side of MessageLoop: Qt's event loop, the application-wide event
// filter that offers the thread's events to the filters, and idle work when
// the event dispatcher is about to wait.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QObject>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include "ui/framework/message_loop.h"
#include "ui/framework/qt/native_message.h"

namespace portwick {

namespace {

// Events that never restart idle processing: painting, pointer motion and
// hovering, timers.
bool RestartsIdle(QEvent::Type type) {
  switch (type) {
    case QEvent::Paint:
    case QEvent::UpdateRequest:
    case QEvent::UpdateLater:
    case QEvent::Expose:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::HoverMove:
    case QEvent::HoverEnter:
    case QEvent::HoverLeave:
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::Timer:
    case QEvent::ZeroTimerEvent:
      return false;
    default:
      return true;
  }
}

int CurrentLoopLevel() { return QThread::currentThread()->loopLevel(); }

// The top-level widget `receiver` belongs to; null for other objects.
QWidget* TopLevelOf(QObject* receiver) {
  if (receiver == nullptr) return nullptr;
  if (receiver->isWidgetType()) return static_cast<QWidget*>(receiver)->window();
  if (auto* window = qobject_cast<QWindow*>(receiver)) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget->windowHandle() == window) return widget;
    }
  }
  return nullptr;
}

}  // namespace

Message MessageFrom(const NativeMessage& native) {
  Message message;
  message.native = &native;
  if (native.event == nullptr) return message;
  const QEvent::Type type = native.event->type();
  if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride && type != QEvent::KeyRelease) {
    return message;
  }
  const auto* key = static_cast<const QKeyEvent*>(native.event);
  message.kind = type == QEvent::KeyRelease ? MessageKind::kKeyUp : MessageKind::kKeyDown;
  message.key = key->key() == Qt::Key_Escape ? kKeyEscape : kKeyOther;
  message.auto_repeat = key->isAutoRepeat();
  message.window = TopLevelOf(native.receiver);
  return message;
}

// Feeds the loop with the thread's events and the dispatcher's about-to-block
// signal while Run() is active.
class LoopEventTap : public QObject {
 public:
  explicit LoopEventTap(MessageLoop* loop, QEventLoop* event_loop)
      : loop_(loop), event_loop_(event_loop), run_loop_level_(CurrentLoopLevel() + 1) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    // Modal loops and waits in nested event loops run without this loop.
    if (!InRunLevel()) return false;
    // Only what the window system delivers counts as a message of the loop;
    // events sent from inside handlers and Qt's internal posted events don't.
    if (!event->spontaneous()) return false;

    const NativeMessage native{watched, event};
    const Message message = MessageFrom(native);
    const Message previous = loop_->current_message_;
    loop_->current_message_ = message;
    const bool consumed = loop_->PreTranslateMessage(message);
    loop_->current_message_ = previous;

    if (RestartsIdle(event->type())) {
      loop_->do_idle_ = true;
      loop_->idle_count_ = 0;
    }
    return consumed;
  }

  // exec() enters one level deeper than Run()'s caller.
  bool InRunLevel() const { return CurrentLoopLevel() == run_loop_level_; }
  void Exit(int code) { event_loop_->exit(code); }

 private:
  MessageLoop* const loop_;
  QEventLoop* const event_loop_;  // Run()'s loop, on its stack
  const int run_loop_level_;      // QThread::loopLevel() inside Run()
};

MessageLoop::MessageLoop() = default;

MessageLoop::~MessageLoop() = default;

void MessageLoop::OnAboutToBlock() {
  if (in_idle_ || !do_idle_) return;
  if (!tap_ || !tap_->InRunLevel()) return;
  if (quit_requested_) return;
  in_idle_ = true;
  const bool keep_idling = OnIdle(idle_count_);
  ++idle_count_;
  if (!keep_idling) do_idle_ = false;
  in_idle_ = false;
  if (do_idle_) {
    // More idle work: don't block, come back here after the queue is looked at.
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
      dispatcher->wakeUp();
    }
  }
}

int MessageLoop::Run() {
  do_idle_ = true;
  idle_count_ = 0;
  int code = 0;
  if (quit_requested_) {
    code = quit_code_;
  } else if (QCoreApplication::instance() == nullptr) {
    code = -1;  // no event loop without an application object
  } else {
    QEventLoop loop;
    tap_ = std::make_unique<LoopEventTap>(this, &loop);
    QCoreApplication::instance()->installEventFilter(tap_.get());
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
      QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, tap_.get(),
                       [this]() { OnAboutToBlock(); });
    }
    code = loop.exec();
    QCoreApplication::instance()->removeEventFilter(tap_.get());
    tap_.reset();  // also ends the connection
    if (quit_requested_) code = quit_code_;
  }
  quit_requested_ = false;
  quit_code_ = 0;
  current_message_ = Message{};
  return code;
}

void MessageLoop::EndRun() {
  if (tap_) tap_->Exit(quit_code_);
}

}  // namespace portwick

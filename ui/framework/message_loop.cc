#include "ui/framework/message_loop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <algorithm>

namespace portwick {

// Feeds the loop with the thread's events and the dispatcher's about-to-block
// signal while Run() is active.
class LoopEventTap : public QObject {
 public:
  explicit LoopEventTap(MessageLoop* loop) : loop_(loop) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    return loop_->FilterEvent(Message{watched, event});
  }

 private:
  MessageLoop* const loop_;
};

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

template <typename T>
bool RemoveFirst(std::vector<T*>& list, T* item, bool iterating) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it == list.end()) return false;
  if (iterating) {
    *it = nullptr;  // compacted once no walk is in progress
  } else {
    list.erase(it);
  }
  return true;
}

}  // namespace

MessageLoop::MessageLoop() = default;

MessageLoop::~MessageLoop() = default;

bool MessageLoop::AddMessageFilter(MessageFilter* filter) {
  if (filter == nullptr) return false;
  filters_.push_back(filter);
  return true;
}

bool MessageLoop::RemoveMessageFilter(MessageFilter* filter) {
  if (filter == nullptr) return false;
  return RemoveFirst(filters_, filter, iterating_ > 0);
}

bool MessageLoop::AddIdleHandler(IdleHandler* handler) {
  if (handler == nullptr) return false;
  idle_handlers_.push_back(handler);
  return true;
}

bool MessageLoop::RemoveIdleHandler(IdleHandler* handler) {
  if (handler == nullptr) return false;
  return RemoveFirst(idle_handlers_, handler, iterating_ > 0);
}

void MessageLoop::CompactLists() {
  if (iterating_ > 0) return;
  std::erase(filters_, nullptr);
  std::erase(idle_handlers_, nullptr);
}

bool MessageLoop::PreTranslateMessage(const Message& message) {
  ++iterating_;
  bool consumed = false;
  // Filters added later see the message first.
  for (size_t i = filters_.size(); i > 0 && !consumed; --i) {
    MessageFilter* filter = filters_[i - 1];
    if (filter != nullptr) consumed = filter->PreTranslateMessage(message);
  }
  --iterating_;
  CompactLists();
  return consumed;
}

bool MessageLoop::OnIdle(int /*idle_count*/) {
  ++iterating_;
  // Handlers added during the walk are called in the same walk.
  for (size_t i = 0; i < idle_handlers_.size(); ++i) {
    IdleHandler* handler = idle_handlers_[i];
    if (handler != nullptr) handler->OnIdle();
  }
  --iterating_;
  CompactLists();
  return false;
}

bool MessageLoop::FilterEvent(const Message& message) {
  // Modal loops and waits in nested event loops run without this loop.
  if (CurrentLoopLevel() != run_loop_level_) return false;
  // Only what the window system delivers counts as a message of the loop;
  // events sent from inside handlers and Qt's internal posted events don't.
  if (!message.event->spontaneous()) return false;

  const Message previous = current_message_;
  current_message_ = message;
  const bool consumed = PreTranslateMessage(message);
  current_message_ = previous;

  if (RestartsIdle(message.event->type())) {
    do_idle_ = true;
    idle_count_ = 0;
  }
  return consumed;
}

void MessageLoop::OnAboutToBlock() {
  if (in_idle_ || !do_idle_) return;
  if (CurrentLoopLevel() != run_loop_level_) return;
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
    tap_ = std::make_unique<LoopEventTap>(this);
    QCoreApplication::instance()->installEventFilter(tap_.get());
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
      QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, tap_.get(),
                       [this]() { OnAboutToBlock(); });
    }
    event_loop_ = &loop;
    run_loop_level_ = CurrentLoopLevel() + 1;  // exec() enters one level deeper
    code = loop.exec();
    run_loop_level_ = -1;
    event_loop_ = nullptr;
    QCoreApplication::instance()->removeEventFilter(tap_.get());
    tap_.reset();  // also ends the connection
    if (quit_requested_) code = quit_code_;
  }
  quit_requested_ = false;
  quit_code_ = 0;
  current_message_ = Message{};
  return code;
}

void MessageLoop::PostQuit(int exit_code) {
  if (!quit_requested_) {
    quit_requested_ = true;
    quit_code_ = exit_code;
  }
  if (event_loop_ != nullptr) event_loop_->exit(quit_code_);
}

}  // namespace portwick

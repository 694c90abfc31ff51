#ifndef PORTWICK_UI_FRAMEWORK_MESSAGE_LOOP_H_
#define PORTWICK_UI_FRAMEWORK_MESSAGE_LOOP_H_

#include <memory>
#include <vector>

#include "ui/framework/idle_handler.h"
#include "ui/framework/message_filter.h"

namespace portwick {

class LoopEventTap;

// The message loop of one GUI thread, over the toolkit's event loop. The
// lists, the filters' order and the idle walk are here
// (message_loop.cc); running and ending the loop and turning the toolkit's
// events into messages are the toolkit's (qt/message_loop_qt.cc).
//
// Under Qt, while Run() is active:
// - every window-system event (key, mouse, focus, close, ...) of the thread
//   is first offered to PreTranslateMessage(), through an application-level
//   event filter; a consumed event is not delivered. An input event that Qt
//   hands on to parent widgets (because the first receiver ignored it) is
//   offered again with each new receiver;
// - idle processing (OnIdle) runs once each time the event queue runs empty
//   after an event that restarts it. Paint and update requests, mouse moves,
//   hover/enter/leave and timer events never restart it; events delivered
//   synchronously from inside a handler, posted internal events and
//   cross-thread calls do not either. Idle processing also runs once when
//   Run() starts.
// - modal loops (QDialog::exec, message boxes) run without the filters and
//   idle handlers.
//
// Under Win32 (win32/message_loop_win32.cc) Run() is the GetMessage loop:
// every retrieved message is offered to the filters, then to the dialog
// manager (accelerators, IsDialogMessage), then translated and dispatched;
// idle processing runs while the queue is empty after a message other than
// WM_PAINT, WM_NCMOUSEMOVE, 0x0118, WM_MOUSEMOVE, mouse hover/leave,
// WM_TIMER, WM_NULL and the toolkit's own notifications. PostQuit records the
// code and wakes the loop; someone else's PostQuitMessage ends it with theirs.
//
// Lives on the stack of the start-up routine; needs a QApplication before
// Run(). Every method: the loop's own thread only.
class MessageLoop {
 public:
  MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;
  virtual ~MessageLoop();

  // Lists are kept in the order of adding. Adding a null pointer fails;
  // removing takes out the first equal entry and reports whether there was
  // one. Filters and handlers may add or remove entries (themselves
  // included) while being called.
  bool AddMessageFilter(MessageFilter* filter);
  bool RemoveMessageFilter(MessageFilter* filter);
  bool AddIdleHandler(IdleHandler* handler);
  bool RemoveIdleHandler(IdleHandler* handler);

  // Runs until PostQuit() and returns its exit code; -1 at once when no
  // QCoreApplication exists. A quit posted before
  // Run(), or while another part of the program processes events in a
  // nested wait or modal loop, is kept and ends Run() as soon as control
  // comes back to it. If Qt's event loop is ended by someone else (e.g.
  // QCoreApplication::exit), Run() returns that code.
  int Run();

  // Records the quit request with `exit_code` and ends Run()'s event loop.
  // The first request wins until Run() has returned it.
  void PostQuit(int exit_code);
  bool quit_requested() const { return quit_requested_; }

  // Asks the filters from the last added to the first; stops at the first
  // that consumes the message.
  virtual bool PreTranslateMessage(const Message& message);

  // Calls every idle handler from the first added to the last. Returns
  // whether to keep idling (false: wait for the next restarting event).
  virtual bool OnIdle(int idle_count);

  // The message being offered to the filters; empty outside that call.
  const Message& current_message() const { return current_message_; }

 private:
  friend class LoopEventTap;

  // Called by the tap when the event dispatcher is about to wait.
  void OnAboutToBlock();
  // Ends the toolkit's loop that Run() runs, if any, with quit_code_.
  void EndRun();
  void CompactLists();

  std::vector<MessageFilter*> filters_;  // null entries are removed ones
  std::vector<IdleHandler*> idle_handlers_;
  int iterating_ = 0;  // >0 while a list is being walked

  Message current_message_;
  bool do_idle_ = true;
  int idle_count_ = 0;
  bool in_idle_ = false;
  bool quit_requested_ = false;
  int quit_code_ = 0;

  std::unique_ptr<LoopEventTap> tap_;  // the toolkit's side while Run() runs
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_MESSAGE_LOOP_H_

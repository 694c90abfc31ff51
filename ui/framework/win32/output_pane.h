#ifndef PORTWICK_UI_FRAMEWORK_WIN32_OUTPUT_PANE_H_
#define PORTWICK_UI_FRAMEWORK_WIN32_OUTPUT_PANE_H_

#include <windows.h>

#include <cstddef>
#include <string>

#include "ui/framework/pane_control.h"
#include "ui/framework/pane_text_queue.h"

namespace portwick {

// The main window's output pane under Win32: a rich edit control (the
// template's kOutputPane, class RICHEDIT50W) that the window sinks write to.
//
// It holds a bounded amount of text: when appended text passes `max_chars`
// characters or `max_lines` lines, the oldest lines leave first (down to an
// eighth below the limit, so that a full pane is not trimmed at every
// append). A line longer than `max_line_chars` goes on in the next line of
// the pane: the control lays out each line whole, so an endless line would
// freeze it. Lines are never wrapped.
//
// AppendText may be called from any thread and never waits for the GUI
// thread: the text is decoded on the calling thread from the system's code
// page (CP_ACP, the ANSI text a Windows pane takes: every byte is a
// character; Wine's text shaping is also known to crash on some scripts
// that UTF-8 decoding of random traffic produces) and queued, the first text of a batch posts one
// message to the pane, and the GUI thread appends what has queued in deliveries at most every
// `delivery_interval_ms`, each spending about `delivery_budget_ms`, then brings the last line into
// view. When text comes faster than the GUI thread can show it, the queue keeps the newest and the
// pane shows an unbroken tail of the traffic. On the pane's own thread AppendText appends at once
// (after whatever was queued).
//
// Owned by its dialog, which destroys it before the control; the sinks that
// call it are released before that.
class Win32OutputPane : public PaneControl {
 public:
  struct Limits {
    std::ptrdiff_t max_chars = std::ptrdiff_t{1} << 20;
    int max_lines = 100'000;
    std::ptrdiff_t max_line_chars = 4096;
    UINT delivery_interval_ms = 50;
    DWORD delivery_budget_ms = 15;
  };

  // Takes over the rich edit `control` (subclassing it).
  Win32OutputPane(HWND control, const Limits& limits);
  Win32OutputPane(const Win32OutputPane&) = delete;
  Win32OutputPane& operator=(const Win32OutputPane&) = delete;
  ~Win32OutputPane() override;

  // Any thread; see above.
  void AppendText(const char* text) override;
  // Empties the pane and drops what is queued; the text can't be brought
  // back with undo. GUI thread.
  void ClearText() override;
  // Appends everything queued now, whatever the budget. GUI thread.
  void DeliverAll();

  std::ptrdiff_t queued_chars() const { return queue_.size(); }
  const Limits& limits() const { return limits_; }
  HWND control() const { return control_; }
  // The pane's text with line breaks as "\n". GUI thread.
  std::wstring Text() const;
  int LineCount() const;

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR id, DWORD_PTR self);
  void ScheduleDelivery();
  void Deliver(DWORD budget_ms);
  void Insert(const std::wstring& text);
  void Trim();
  void ScrollToEnd();

  const HWND control_;
  const DWORD gui_thread_;
  const Limits limits_;
  BasicPaneTextQueue<std::wstring> queue_;
  bool timer_active_ = false;
  ULONGLONG last_delivery_ = 0;  // GetTickCount64 of the last delivery; 0: none yet
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_WIN32_OUTPUT_PANE_H_

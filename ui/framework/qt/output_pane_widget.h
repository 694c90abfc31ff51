#ifndef PORTWICK_UI_FRAMEWORK_QT_OUTPUT_PANE_WIDGET_H_
#define PORTWICK_UI_FRAMEWORK_QT_OUTPUT_PANE_WIDGET_H_

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <chrono>

#include "ui/framework/pane_control.h"
#include "ui/framework/qt/pane_text_queue.h"

class QTimer;

namespace portwick {

// The main window's output pane (control 1003): an editable plain-text pane
// without line wrapping, and the target of the window sinks.
//
// It holds a bounded amount of text: when appended text would pass
// `max_chars` characters or `max_lines` lines, the oldest lines leave first.
// A line longer than `max_line_chars` goes on in the next line of the pane
// (a text widget lays out each line whole, so an endless line would freeze
// it); copying a selection joins such lines again.
//
// AppendText may be called from any thread and never waits for the GUI
// thread: the text is decoded on the calling thread and queued, and the GUI
// thread appends what has queued in deliveries at most every
// `delivery_interval`, each of them spending about `delivery_budget` at
// most, then brings the last line into view. When text comes faster than the
// GUI thread can show it, the queue keeps the newest and the pane shows an
// unbroken tail of the traffic. On the pane's own thread AppendText appends
// at once (after whatever was queued).
//
// The sinks that call it are released before the pane is destroyed.
// Owned through Qt's parent chain (the dialog's client area).
class OutputPaneWidget : public QPlainTextEdit, public PaneControl {
 public:
  struct Limits {
    qsizetype max_chars = qsizetype{8} << 20;
    int max_lines = 100'000;
    qsizetype max_line_chars = 4096;
    std::chrono::milliseconds delivery_interval{50};
    std::chrono::milliseconds delivery_budget{15};
  };

  explicit OutputPaneWidget(QWidget* parent = nullptr) : OutputPaneWidget(Limits{}, parent) {}
  explicit OutputPaneWidget(const Limits& limits, QWidget* parent = nullptr);
  OutputPaneWidget(const OutputPaneWidget&) = delete;
  OutputPaneWidget& operator=(const OutputPaneWidget&) = delete;
  ~OutputPaneWidget() override;

  // Appends the zero-terminated `text`, decoded from the local 8-bit
  // encoding, at the end of the pane (after whatever the user typed), then
  // scrolls so that the last line is in view. The insertion can't be undone.
  // Any thread; see above for when the text shows.
  void AppendText(const char* text) override;

  // Empties the pane, drops what is queued for it and gives the memory back;
  // the text can't be brought back with undo. GUI thread.
  void ClearText() override;

  // Appends everything queued now, whatever the budget. GUI thread.
  void DeliverAll();

  // The selection as Copy puts it on the clipboard: lines the pane broke
  // because they were too long are joined again.
  QString SelectedText() const;

  // Characters queued and not shown yet.
  qsizetype queued_chars() const { return queue_.size(); }
  const Limits& limits() const { return limits_; }

 protected:
  QMimeData* createMimeDataFromSelection() const override;

 private:
  // GUI thread: a delivery now or after the rest of the interval.
  void ScheduleDelivery();
  // GUI thread: appends queued text for up to `budget`; schedules the next
  // delivery when text is left.
  void Deliver(std::chrono::milliseconds budget);
  void Insert(const QString& text);
  void Trim();

  const Limits limits_;
  PaneTextQueue queue_;
  QTimer* delivery_timer_;  // owned by this widget (Qt parent)
  QElapsedTimer since_delivery_;
};

// The widget behind `pane`: every PaneControl of this toolkit is one.
OutputPaneWidget* QtPaneOf(PaneControl* pane);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_QT_OUTPUT_PANE_WIDGET_H_

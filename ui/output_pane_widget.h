#ifndef PORTWICK_UI_OUTPUT_PANE_WIDGET_H_
#define PORTWICK_UI_OUTPUT_PANE_WIDGET_H_

#include <QPlainTextEdit>

#include "trafficlog/output_pane.h"

namespace portwick {

// The main window's output pane (control 1003): an editable plain-text pane
// without line wrapping or a text limit, and the target of the window sinks.
//
// AppendText may be called from any thread. Called on the pane's own (GUI)
// thread it appends at once; from any other thread it is handed to the GUI
// thread as a blocking queued call and returns only when the GUI thread has
// served it (in its event loop, or in a wait that serves events). The sinks
// that call it are released, while the GUI thread serves events, before the
// pane is destroyed.
//
// Owned through Qt's parent chain (the dialog's client area).
class OutputPaneWidget : public QPlainTextEdit, public OutputPane {
 public:
  explicit OutputPaneWidget(QWidget* parent = nullptr);
  OutputPaneWidget(const OutputPaneWidget&) = delete;
  OutputPaneWidget& operator=(const OutputPaneWidget&) = delete;
  ~OutputPaneWidget() override;

  // Appends the zero-terminated `text`, decoded from the local 8-bit
  // encoding, at the end of the pane (after whatever the user typed), then
  // scrolls so that the last line is in view. The insertion can't be undone.
  void AppendText(const char* text) override;

  // Empties the pane; the text can't be brought back with undo. GUI thread.
  void ClearText();

 private:
  void AppendOnOwnThread(const char* text);
};

}  // namespace portwick

#endif  // PORTWICK_UI_OUTPUT_PANE_WIDGET_H_

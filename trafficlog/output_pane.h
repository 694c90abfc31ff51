#ifndef PORTWICK_TRAFFICLOG_OUTPUT_PANE_H_
#define PORTWICK_TRAFFICLOG_OUTPUT_PANE_H_

namespace portwick {

// The text pane that shows the traffic as it is relayed.
//
// Thread safety: AppendText is called from relay threads and sink workers,
// any number at once. An implementation takes the text over (a copy) and
// returns without waiting for the thread that owns the pane, which shows it
// soon after, whole and in the order of the calls: a relay thread must never
// wait for painting. The main window's pane queues the text for its GUI
// thread.
class OutputPane {
 public:
  virtual ~OutputPane() = default;

  // Appends the zero-terminated `text` at the end of the pane, unconverted
  // and with nothing added, then brings the last line into view.
  virtual void AppendText(const char* text) = 0;
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_OUTPUT_PANE_H_

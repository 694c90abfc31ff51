#ifndef PORTWICK_TRAFFICLOG_OUTPUT_PANE_H_
#define PORTWICK_TRAFFICLOG_OUTPUT_PANE_H_

namespace portwick {

// The text pane that shows the traffic as it is relayed.
//
// Thread safety: AppendText is called from relay threads and sink workers,
// any number at once. An implementation marshals each call to the thread that
// owns the pane and returns when the text has been appended (the main
// window's does a blocking queued call into the GUI thread), so one call
// appends one record whole.
class OutputPane {
 public:
  virtual ~OutputPane() = default;

  // Appends the zero-terminated `text` at the end of the pane, unconverted
  // and with nothing added, then brings the last line into view.
  virtual void AppendText(const char* text) = 0;
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_OUTPUT_PANE_H_

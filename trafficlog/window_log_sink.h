#ifndef PORTWICK_TRAFFICLOG_WINDOW_LOG_SINK_H_
#define PORTWICK_TRAFFICLOG_WINDOW_LOG_SINK_H_

#include <cstdint>

#include "trafficlog/output_pane.h"
#include "trafficlog/sync_log_sink.h"

namespace portwick {

// Appends each record's text to the output pane on the writing relay thread:
// the bytes up to the record's first zero byte, unconverted, with nothing
// between records. The record is in the pane (shown, or queued to be shown
// in order) before Write returns, so before it is sent on. Takes no lock of
// its own; the pane serialises appends.
//
// `pane` is borrowed (may be null: nothing is shown) and must outlive the
// sink. Thread safety: as LogSink.
class WindowLogSink : public SyncLogSink {
 public:
  explicit WindowLogSink(OutputPane* pane) : pane_(pane) {}

 protected:
  void Output(const char* data, int32_t length) override;

 private:
  OutputPane* const pane_;
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_WINDOW_LOG_SINK_H_

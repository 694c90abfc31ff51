#ifndef PORTWICK_TRAFFICLOG_QUEUED_WINDOW_LOG_SINK_H_
#define PORTWICK_TRAFFICLOG_QUEUED_WINDOW_LOG_SINK_H_

#include <cstdint>

#include "trafficlog/output_pane.h"
#include "trafficlog/queued_log_sink.h"

namespace portwick {

// Appends the records' text to the output pane on its worker thread, in the
// order they were written: each record up to its first zero byte,
// unconverted, with nothing between records. The pane takes each record
// over without waiting for its own thread.
//
// `pane` is borrowed (may be null: nothing is shown) and must outlive the
// sink. Thread safety: as QueuedLogSink.
class QueuedWindowLogSink : public QueuedLogSink {
 public:
  // The queue bound BuildLogSinks gives it (a file sink's is larger).
  static constexpr size_t kMaxQueuedBytes = size_t{16} << 20;

  explicit QueuedWindowLogSink(OutputPane* pane, Options options = {});
  ~QueuedWindowLogSink() override;

 protected:
  void Output(const char* data, int32_t length) override;

 private:
  OutputPane* const pane_;
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_QUEUED_WINDOW_LOG_SINK_H_

#include "trafficlog/queued_window_log_sink.h"

#include <utility>

namespace portwick {

QueuedWindowLogSink::QueuedWindowLogSink(OutputPane* pane, Options options)
    : QueuedLogSink(std::move(options)), pane_(pane) {}

QueuedWindowLogSink::~QueuedWindowLogSink() { Stop(); }

void QueuedWindowLogSink::Output(const char* data, int32_t /*length*/) {
  if (pane_ != nullptr) pane_->AppendText(data);
}

}  // namespace portwick

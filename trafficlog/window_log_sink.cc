#include "trafficlog/window_log_sink.h"

namespace portwick {

void WindowLogSink::Output(const char* data, int32_t /*length*/) {
  // The record is followed by a zero byte, so it reads as text up to its
  // first zero byte.
  if (pane_ != nullptr) pane_->AppendText(data);
}

}  // namespace portwick

#ifndef PORTWICK_TRAFFICLOG_SYNC_LOG_SINK_H_
#define PORTWICK_TRAFFICLOG_SYNC_LOG_SINK_H_

#include <cstdint>

#include "trafficlog/log_sink_base.h"

namespace portwick {

// A sink that delivers each record on the thread that writes it, before
// Write returns, so the record is logged before it is sent on.
//
// Thread safety: Output is called from any number of relay threads at once;
// a subclass serialises what must not overlap.
class SyncLogSink : public LogSinkBase {
 protected:
  void Process(LogCall& call) override;

  // Delivers `length` bytes at `data`, which are followed by a zero byte.
  virtual void Output(const char* data, int32_t length) = 0;
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_SYNC_LOG_SINK_H_

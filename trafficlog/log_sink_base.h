#ifndef PORTWICK_TRAFFICLOG_LOG_SINK_BASE_H_
#define PORTWICK_TRAFFICLOG_LOG_SINK_BASE_H_

#include <cstdint>

#include "engine/log_sink.h"

namespace portwick {

// The common implementation of LogSink. Write stores the record in the
// caller's LogCall as both its input and its output, then hands it to
// Process; the sinks here never change the output, so every sink passes its
// input on unchanged. ReleaseOutput does nothing, so the caller may send a
// copy of the output after it (MaySendAfterRelease).
//
// Thread safety: the LogSink operations may be called from any number of
// threads at once, each with its own LogCall; Process must allow that too.
class LogSinkBase : public LogSink {
 public:
  LogSinkBase() = default;
  LogSinkBase(const LogSinkBase&) = delete;
  LogSinkBase& operator=(const LogSinkBase&) = delete;

  // A record with a negative length is passed on as given but not logged.
  void Write(LogCall& call, const char* data, int32_t length) override;
  void ReleaseOutput(LogCall& call) override;
  const char* OutputData(const LogCall& call) const override;
  int32_t OutputLength(const LogCall& call) const override;
  bool MaySendAfterRelease() const override { return true; }

 protected:
  // The sink's own handling of the record in `call` (its output pair), on
  // the thread that called Write. The record is followed by a zero byte.
  virtual void Process(LogCall& call) = 0;
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_LOG_SINK_BASE_H_

#ifndef PORTWICK_TRAFFICLOG_LOG_RECORD_H_
#define PORTWICK_TRAFFICLOG_LOG_RECORD_H_

#include <cstdint>

namespace portwick {

// One queued record as the worker delivers it: the sink's own copy of the
// bytes, followed by a zero byte, valid during its delivery.
struct LogRecord {
  const char* data = nullptr;
  int32_t length = 0;  // the zero byte not counted
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_LOG_RECORD_H_

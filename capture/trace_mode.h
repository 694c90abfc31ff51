#ifndef PORTWICK_CAPTURE_TRACE_MODE_H_
#define PORTWICK_CAPTURE_TRACE_MODE_H_

#include <cstdint>

namespace portwick {

// What the console trace shows (capture/trace_writer.h).
enum class TraceMode : uint8_t {
  kOff,
  kText,    // every event, chunks' bytes as escaped text
  kHex,     // every event, chunks' bytes as hex dump lines
  kEvents,  // the lifecycle events only, no chunks
};

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_TRACE_MODE_H_

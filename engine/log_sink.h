#ifndef PORTWICK_ENGINE_LOG_SINK_H_
#define PORTWICK_ENGINE_LOG_SINK_H_

#include <cstdint>

namespace portwick {

// The state of one record on its way through a sink: what was written and
// what the sink passes on. It belongs to the caller (one per record, usually
// on the relay thread's stack), so any number of threads can use the same
// sink at once and each sends exactly what its own Write produced.
struct LogCall {
  const char* input_data = nullptr;
  int32_t input_length = 0;
  const char* output_data = nullptr;
  int32_t output_length = 0;
};

// Every relayed chunk passes through a LogSink before it is sent on.
//
// Calling order for each record, on the relay thread:
//   Write(call, data, length);
//   OutputLength(call), then OutputData(call);
//   send exactly that output;
//   ReleaseOutput(call).
// The caller keeps `data` valid, and a zero byte at data[length], until
// ReleaseOutput. Write does the sink's logging before it returns, so a record
// is sent on only after every synchronous sink has delivered it.
//
// Thread safety: all four operations may be called from many threads at once,
// each with its own LogCall.
class LogSink {
 public:
  virtual ~LogSink() = default;

  virtual void Write(LogCall& call, const char* data, int32_t length) = 0;
  virtual void ReleaseOutput(LogCall& call) = 0;
  virtual const char* OutputData(const LogCall& call) const = 0;
  virtual int32_t OutputLength(const LogCall& call) const = 0;

  // True when the sink neither logs nor changes anything (an empty chain):
  // the relay may then skip it and move the bytes without looking at them.
  // Must not change once the sink is in use.
  virtual bool LogsNothing() const { return false; }

  // True when ReleaseOutput may come before the output is sent: the caller
  // then copies the output and sends it later, gathered with the records
  // after it (still in order, still only after Write). A sink that needs
  // the calling order above keeps the default.
  virtual bool MaySendAfterRelease() const { return false; }

  // True when the sink only appends each record, unchanged, to a file, and
  // can take it straight from a pipe (WritePiped) instead of through Write:
  // the Linux relay then moves a direction's bytes to the file inside the
  // kernel. Must not change once the sink is in use.
  virtual bool TakesPipedRecords() const { return false; }
  // Logs the next `length` bytes waiting in the pipe read through `pipe_fd`
  // as one record, whole, before it returns, after every record the caller
  // logged before (a caller never writes through Write and then through the
  // pipe again). A record that can't be written is counted as lost, as
  // Write's would be. True when all its bytes have left the pipe; false
  // when some may still be in it (the caller must not use the pipe again).
  // Thread safety: as Write.
  virtual bool WritePiped(int /*pipe_fd*/, int32_t /*length*/) { return false; }
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_LOG_SINK_H_

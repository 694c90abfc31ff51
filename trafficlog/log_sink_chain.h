#ifndef PORTWICK_TRAFFICLOG_LOG_SINK_CHAIN_H_
#define PORTWICK_TRAFFICLOG_LOG_SINK_CHAIN_H_

#include <cstdint>
#include <vector>

#include "trafficlog/log_sink_base.h"

namespace portwick {

// Hands each record to its children in the order they were added; each child
// gets what the one before it passed on, and the chain passes on what the
// last child passed on. With no children the record passes unchanged.
//
// The chain borrows its children: they must outlive every Write on the chain
// (the owner detaches the LogSinkHandle before destroying them).
//
// Thread safety: AddSink on the owner's thread only, while the chain is being
// assembled and before any Write. Afterwards the LogSink operations may be
// called from any number of threads at once; each child call uses a LogCall
// of its own on the caller's stack.
class LogSinkChain : public LogSinkBase {
 public:
  LogSinkChain() = default;

  // Appends `sink` (not null, borrowed) at the end of the chain.
  void AddSink(LogSink* sink);

  void Write(LogCall& call, const char* data, int32_t length) override;
  // True when every child logs nothing (or there is none).
  bool LogsNothing() const override;
  // True when exactly one child logs, and it takes piped records; they go
  // to it alone.
  bool TakesPipedRecords() const override;
  bool WritePiped(int pipe_fd, int32_t length) override;

  // For tests and the owner: the children in order.
  const std::vector<LogSink*>& sinks() const { return sinks_; }

 protected:
  // The chain logs nothing itself.
  void Process(LogCall& call) override;

 private:
  // The one child that logs, or null when none or several do.
  LogSink* OnlyLogging() const;

  std::vector<LogSink*> sinks_;
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_LOG_SINK_CHAIN_H_

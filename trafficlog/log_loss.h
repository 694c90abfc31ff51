#ifndef PORTWICK_TRAFFICLOG_LOG_LOSS_H_
#define PORTWICK_TRAFFICLOG_LOG_LOSS_H_

#include <cstdint>
#include <functional>
#include <utility>

#include "base/mutex.h"
#include "base/status.h"

namespace portwick {

// What a run's log could not write: the first failure and the records and
// bytes lost in all.
struct LogLoss {
  Status first_failure;  // ok() when nothing was lost
  uint64_t records = 0;
  uint64_t bytes = 0;
};

// Counts the records a run's file sinks could not write, so that a log with
// holes says so. The first loss is reported once to the listener given at
// construction; the totals are read with Snapshot.
//
// Thread safety: Count and Snapshot from any thread. The listener runs on the
// thread whose record was lost (a relay thread or a sink's worker), outside
// any lock of this class, once per counter; it must not block for long.
class LogLossCounter {
 public:
  using Listener = std::function<void(const Status& failure)>;

  explicit LogLossCounter(Listener listener = {}) : listener_(std::move(listener)) {}
  LogLossCounter(const LogLossCounter&) = delete;
  LogLossCounter& operator=(const LogLossCounter&) = delete;

  // `records` records holding `bytes` bytes in all were lost because of
  // `failure`.
  void Count(const Status& failure, uint64_t records, uint64_t bytes) LOCKS_EXCLUDED(mutex_);
  LogLoss Snapshot() const LOCKS_EXCLUDED(mutex_);

 private:
  const Listener listener_;
  mutable Mutex mutex_;
  LogLoss loss_ GUARDED_BY(mutex_);
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_LOG_LOSS_H_

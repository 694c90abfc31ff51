#ifndef PORTWICK_TRAFFICLOG_QUEUED_LOG_SINK_H_
#define PORTWICK_TRAFFICLOG_QUEUED_LOG_SINK_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/log_sink_handle.h"
#include "engine/thread_annotations.h"
#include "trafficlog/log_sink_base.h"

namespace portwick {

// One queued record: its own copy of the bytes followed by a zero byte.
struct LogRecord {
  std::unique_ptr<char[]> data;  // length + 1 bytes
  int32_t length = 0;            // the zero byte not counted
};

// A sink that copies each record into a first-in, first-out queue and
// returns; a worker thread of its own delivers the records one by one, in the
// order they were queued, through Output.
//
// The worker drains the queue, then sleeps for the drain period (1000 ms)
// unless it is woken: by Stop, or by writers once the queue holds half its
// byte bound. The queue holds at most `max_queued_bytes` (counted until each
// record has been delivered); a writer that finds no room waits until the
// worker has delivered enough, so forwarding slows down and nothing is
// dropped. A single record larger than the bound waits for an empty queue
// and then passes alone.
//
// Lifetime: the worker starts in the constructor. Every subclass destructor
// must call Stop() first, so the worker has ended before the subclass's
// members go and before Output becomes pure again. Stop delivers every record
// written before it was called; records written after the worker has ended
// are dropped.
//
// Thread safety: Write and the other LogSink operations from any number of
// threads at once. Stop and destruction on the owner's thread only.
class QueuedLogSink : public LogSinkBase {
 public:
  enum class WorkerState : int32_t {
    WorkerRunning = 1,
    WorkerStopRequested = 2,
    WorkerStopped = 3,
  };

  static constexpr size_t kMaxQueuedBytes = size_t{64} << 20;
  static constexpr std::chrono::milliseconds kDrainPeriod{1000};

  struct Options {
    // Upper bound of the bytes held (each record counts its length + 1).
    size_t max_queued_bytes = kMaxQueuedBytes;
    // How long the worker sleeps between drains unless woken.
    std::chrono::milliseconds drain_period = kDrainPeriod;
    // Called over and over while Stop waits, when Stop is given none.
    ServeEvents serve_events;
  };

  QueuedLogSink() : QueuedLogSink(Options{}) {}
  explicit QueuedLogSink(Options options);
  // Stops the worker (if the subclass has not) and frees whatever is queued.
  ~QueuedLogSink() override;

  // Asks the worker to deliver what is queued and end, and waits until it
  // has ended, calling `serve_events` (or the one given at construction)
  // between short waits: a worker may be waiting for this thread to deliver.
  // Returns at once when the worker has already ended; a nested call from
  // inside serve_events is harmless.
  void Stop(const ServeEvents& serve_events = {}) LOCKS_EXCLUDED(mutex_);

  WorkerState state() const LOCKS_EXCLUDED(mutex_);
  // Bytes held now: queued records and the one being delivered.
  size_t QueuedBytes() const LOCKS_EXCLUDED(mutex_);
  // Writers waiting for room right now.
  int WaitingWriters() const LOCKS_EXCLUDED(mutex_);

 protected:
  // Copies the record into the queue (waits for room when the queue is full).
  void Process(LogCall& call) override LOCKS_EXCLUDED(mutex_);

  // Delivers one record on the worker thread; `data` is followed by a zero
  // byte. Failures are the subclass's own business.
  virtual void Output(const char* data, int32_t length) = 0;

  // Called on the worker thread before and after the records it has taken
  // off the queue at once (a drain) are handed to Output. Never called for
  // an empty drain.
  virtual void BeginDrain() {}
  virtual void EndDrain() {}

 private:
  void Run() LOCKS_EXCLUDED(mutex_);
  void DeliverBatch(std::deque<LogRecord>& batch) LOCKS_EXCLUDED(mutex_);
  bool HasRoom(size_t size) const EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void WakeWorker() EXCLUSIVE_LOCKS_REQUIRED(mutex_);

  const size_t max_queued_bytes_;
  const std::chrono::milliseconds drain_period_;
  const ServeEvents serve_events_;

  mutable std::mutex mutex_;
  std::condition_variable work_;     // the worker waits here between drains
  std::condition_variable room_;     // writers wait here for room
  std::condition_variable stopped_;  // Stop waits here for the worker's end
  std::deque<LogRecord> queue_ GUARDED_BY(mutex_);
  size_t held_bytes_ GUARDED_BY(mutex_) = 0;
  int waiting_writers_ GUARDED_BY(mutex_) = 0;
  bool wake_ GUARDED_BY(mutex_) = false;
  WorkerState state_ GUARDED_BY(mutex_) = WorkerState::WorkerRunning;

  std::thread worker_;  // started last in the constructor
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_QUEUED_LOG_SINK_H_

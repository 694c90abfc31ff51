#ifndef PORTWICK_TRAFFICLOG_QUEUED_LOG_SINK_H_
#define PORTWICK_TRAFFICLOG_QUEUED_LOG_SINK_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

#include "base/mutex.h"
#include "engine/log_sink_handle.h"
#include "trafficlog/log_record.h"
#include "trafficlog/log_sink_base.h"

namespace portwick {

// A sink that copies each record into a first-in, first-out queue and
// returns; a worker thread of its own delivers the records one by one, in the
// order they were queued, through Output.
//
// The queue is a list of large buffers (chunks) holding the copies back to
// back. The writer copies its record into the last chunk under the lock (one
// memcpy, no allocation of its own); the worker takes all chunks at once,
// delivers them without the lock and keeps emptied chunks for reuse (under
// load all of them, after a quiet drain period a few).
//
// The worker drains the queue, then sleeps for the drain period (1000 ms)
// unless it is woken: by Stop, or by writers once the queue holds kWakeBytes
// (or half its bound, if that is less). The queue holds at most
// `max_queued_bytes` of records, counted until a record's chunk has been
// delivered; a writer that finds no room waits until the worker has made
// room, so forwarding slows down and nothing is dropped. A single record
// larger than the bound waits for an empty queue and then passes alone.
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

  // Small enough that the records are still in the processor's cache when
  // the worker writes them out (a queue of 64 MiB wrote at about half the
  // speed under load), large enough for the log target's hiccups.
  static constexpr size_t kMaxQueuedBytes = size_t{16} << 20;
  // Size of one queue buffer; a larger record gets a buffer of its own.
  static constexpr size_t kChunkSize = size_t{1} << 20;
  // Queued bytes at which writers wake the worker early (at most half the
  // bound): heavy traffic is delivered a chunk at a time, while it is hot.
  static constexpr size_t kWakeBytes = size_t{1} << 20;
  static constexpr std::chrono::milliseconds kDrainPeriod{1000};

  struct Options {
    // Upper bound of the record bytes held (each counts its length + 1).
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
  // The same, but gives up waiting at `deadline` (the worker may be blocked
  // in a delivery that never ends). True when the worker has ended; false
  // when it had not by then; the sink must then not be destroyed before a
  // later Stop has returned (the worker still uses it).
  bool StopBefore(std::chrono::steady_clock::time_point deadline,
                  const ServeEvents& serve_events = {}) LOCKS_EXCLUDED(mutex_);

  // For a sink that will never be destroyed (its worker is blocked for
  // good): lets the worker go on alone, without anyone joining it.
  void LeaveBehind();

  WorkerState state() const LOCKS_EXCLUDED(mutex_);
  // Bytes held now: queued records and the one being delivered.
  size_t QueuedBytes() const LOCKS_EXCLUDED(mutex_);
  // Records held now, counted as QueuedBytes counts their bytes.
  size_t QueuedRecords() const LOCKS_EXCLUDED(mutex_);
  // Writers waiting for room right now.
  int WaitingWriters() const LOCKS_EXCLUDED(mutex_);

 protected:
  // Copies the record into the queue (waits for room when the queue is full).
  // Each record counts its length + 1 against the bound.
  void Process(LogCall& call) override LOCKS_EXCLUDED(mutex_);

  // Delivers one record on the worker thread; `data` is followed by a zero
  // byte. Failures are the subclass's own business.
  virtual void Output(const char* data, int32_t length) = 0;
  // Delivers `count` records in order; by default one Output each. A sink
  // that can take several at once (one system call for many) overrides it.
  virtual void OutputRecords(const LogRecord* records, size_t count);

  // Called on the worker thread before and after the records it has taken
  // off the queue at once (a drain) are handed to Output. Never called for
  // an empty drain.
  virtual void BeginDrain() {}
  virtual void EndDrain() {}

 private:
  // Records laid out back to back, each as its length (int32_t), its bytes
  // and a zero byte.
  struct Chunk {
    std::unique_ptr<char[]> bytes;
    size_t capacity = 0;
    size_t used = 0;
    size_t held = 0;  // what its records count against the bound
    size_t records = 0;
  };

  void Run() LOCKS_EXCLUDED(mutex_);
  // Stop's wait; no deadline waits for as long as it takes.
  bool StopAndWait(const std::chrono::steady_clock::time_point* deadline,
                   const ServeEvents& serve_events) LOCKS_EXCLUDED(mutex_);
  void DeliverBatch(std::deque<Chunk>& batch) LOCKS_EXCLUDED(mutex_);
  void ReleaseChunk(Chunk chunk) LOCKS_EXCLUDED(mutex_);
  Chunk& ChunkWithRoom(size_t need) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  bool HasRoom(size_t size) const EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void WakeWorker() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // Whether the sleeping worker has something to do.
  bool HasWorkerWork() const EXCLUSIVE_LOCKS_REQUIRED(mutex_);

  const size_t max_queued_bytes_;
  const size_t wake_bytes_;  // queued bytes that make writers wake the worker
  const std::chrono::milliseconds drain_period_;
  const ServeEvents serve_events_;

  mutable Mutex mutex_;
  CondVar work_{&mutex_};                       // the worker waits here between drains
  CondVar room_{&mutex_};                       // writers wait here for room
  CondVar stopped_{&mutex_};                    // Stop waits here for the worker's end
  std::deque<Chunk> queue_ GUARDED_BY(mutex_);  // back() is being filled
  std::vector<Chunk> spare_chunks_ GUARDED_BY(mutex_);
  size_t held_bytes_ GUARDED_BY(mutex_) = 0;
  size_t held_records_ GUARDED_BY(mutex_) = 0;
  int waiting_writers_ GUARDED_BY(mutex_) = 0;
  bool wake_ GUARDED_BY(mutex_) = false;
  WorkerState state_ GUARDED_BY(mutex_) = WorkerState::WorkerRunning;

  std::vector<LogRecord> batch_records_;  // worker thread only
  std::thread worker_;                    // started last in the constructor
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_QUEUED_LOG_SINK_H_

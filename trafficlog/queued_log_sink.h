#ifndef PORTWICK_TRAFFICLOG_QUEUED_LOG_SINK_H_
#define PORTWICK_TRAFFICLOG_QUEUED_LOG_SINK_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/bounded_byte_queue.h"
#include "engine/log_sink_handle.h"
#include "trafficlog/log_record.h"
#include "trafficlog/log_sink_base.h"

namespace portwick {

// A sink that copies each record into a first-in, first-out queue and
// returns; a worker thread of its own delivers the records one by one, in the
// order they were queued, through Output.
//
// The queue is a BoundedByteQueue (base/bounded_byte_queue.h): the writer
// copies its record into the last buffer (chunk) under the lock, one memcpy
// and no allocation of its own; the worker delivers a chunk at a time without
// the lock and keeps emptied chunks for reuse.
//
// The worker delivers what is queued a drain period (1000 ms) after the
// first record of a quiet queue, or at once when woken: by Stop, or by
// writers once the queue holds kWakeBytes (or half its bound, if that is
// less). The queue holds at most `max_queued_bytes` of records, counted
// until a record's chunk has been delivered; a writer that finds no room
// waits until the worker has made room, so forwarding slows down and nothing
// is dropped. A single record larger than the bound waits for an empty queue
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

  // Small enough that the records are still in the processor's cache when
  // the worker writes them out (a queue of 64 MiB wrote at about half the
  // speed under load), large enough for the log target's hiccups.
  static constexpr size_t kMaxQueuedBytes = size_t{16} << 20;
  // Size of one queue buffer; a larger record gets a buffer of its own.
  static constexpr size_t kChunkSize = BoundedByteQueue::kBufferSize;
  // Queued bytes at which writers wake the worker early (at most half the
  // bound): heavy traffic is delivered a chunk at a time, while it is hot.
  static constexpr size_t kWakeBytes = BoundedByteQueue::kWakeBytes;
  static constexpr std::chrono::milliseconds kDrainPeriod{1000};

  struct Options {
    // Upper bound of the record bytes held (each counts its length + 1).
    size_t max_queued_bytes = kMaxQueuedBytes;
    // How long the first record of a quiet queue waits for the worker,
    // unless the worker is woken early.
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
  void Stop(const ServeEvents& serve_events = {});
  // The same, but gives up waiting at `deadline` (the worker may be blocked
  // in a delivery that never ends). True when the worker has ended; false
  // when it had not by then; the sink must then not be destroyed before a
  // later Stop has returned (the worker still uses it).
  bool StopBefore(std::chrono::steady_clock::time_point deadline,
                  const ServeEvents& serve_events = {});

  // For a sink that will never be destroyed (its worker is blocked for
  // good): lets the worker go on alone, without anyone joining it.
  void LeaveBehind();

  WorkerState state() const;
  // Bytes held now: queued records and the one being delivered.
  size_t QueuedBytes() const;
  // Records held now, counted as QueuedBytes counts their bytes.
  size_t QueuedRecords() const;
  // Writers waiting for room right now.
  int WaitingWriters() const;

 protected:
  // Copies the record into the queue (waits for room when the queue is full).
  // Each record counts its length + 1 against the bound.
  void Process(LogCall& call) override;

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
  // Hands the queue's chunks to the sink; records are laid out back to back,
  // each as its length (int32_t), its bytes and a zero byte.
  class Delivery : public BoundedByteQueue::Consumer {
   public:
    explicit Delivery(QueuedLogSink* sink) : sink_(sink) {}
    void Deliver(const char* data, size_t size) override;
    void BeginDrain() override { sink_->BeginDrain(); }
    void EndDrain() override { sink_->EndDrain(); }

   private:
    QueuedLogSink* const sink_;
    std::vector<LogRecord> records_;  // worker thread only
  };

  const ServeEvents serve_events_;
  Delivery delivery_{this};
  BoundedByteQueue queue_;  // starts the worker: last
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_QUEUED_LOG_SINK_H_

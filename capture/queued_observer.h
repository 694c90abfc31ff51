#ifndef PORTWICK_CAPTURE_QUEUED_OBSERVER_H_
#define PORTWICK_CAPTURE_QUEUED_OBSERVER_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <utility>
#include <variant>
#include <vector>

#include "base/bounded_byte_queue.h"
#include "base/mutex.h"
#include "capture/session_event_writer.h"

namespace portwick {

// Copies each event into a bounded first-in, first-out queue and returns; a
// worker thread of its own hands the events, in the order they were queued,
// to its writers (the console trace, the pcapng writer), and calls their
// Flush after each batch. So the writers' output keeps every session's
// events in order, and a slow terminal or disk never holds a relay thread
// beyond the copy, until the queue is full: then the relay waits for room
// (it slows down; nothing is lost).
//
// The queue is a BoundedByteQueue (base/bounded_byte_queue.h) whose drain
// period is a few milliseconds: the worker sleeps until an event comes, then
// gathers events for that long and delivers them as one batch, so the output
// follows within milliseconds and the relays wake it at most a few hundred
// times a second.
//
// Lifetime: the worker starts in the constructor. Stop (also called by the
// destructor) delivers everything queued before it, flushes the writers and
// ends the worker; events that come after that are dropped and counted. A
// worker that has not ended within the stop time limit (a writer blocked on
// a FIFO nobody reads) has its writers abandoned (SessionEventWriter::
// Abandon): what they still hold is lost, and Stop returns once they let go.
//
// Thread safety: the observer methods from the engine's threads as
// SessionObserver says; Stop and destruction from one owner thread (or
// whichever thread lets go of the last reference), never from a writer.
class QueuedObserver : public SessionObserver {
 public:
  static constexpr size_t kMaxQueuedBytes = size_t{32} << 20;
  // How long the worker gathers events after the first one woke it.
  static constexpr std::chrono::milliseconds kGatherTime{2};
  static constexpr std::chrono::milliseconds kStopTimeLimit{5000};

  struct Options {
    // Upper bound of what queued events hold (their bytes and headers).
    size_t max_queued_bytes = kMaxQueuedBytes;
    // How long Stop waits for the worker before it abandons the writers.
    std::chrono::milliseconds stop_time_limit = kStopTimeLimit;
  };

  explicit QueuedObserver(std::vector<std::shared_ptr<SessionEventWriter>> writers)
      : QueuedObserver(std::move(writers), Options{}) {}
  QueuedObserver(std::vector<std::shared_ptr<SessionEventWriter>> writers, Options options);
  QueuedObserver(const QueuedObserver&) = delete;
  QueuedObserver& operator=(const QueuedObserver&) = delete;
  ~QueuedObserver() override;

  void Stop();

  // Events dropped because they came after Stop.
  uint64_t dropped_events() const { return dropped_events_.load(std::memory_order_relaxed); }
  // Bytes held by queued events now; relays waiting for room now.
  size_t QueuedBytes() const { return queue_.HeldCost(); }
  int WaitingWriters() const { return queue_.WaitingWriters(); }

  bool WantsChunks() const override { return !chunk_writers_.empty(); }
  void OnOpened(const SessionOpened& event) override;
  void OnConnected(const SessionConnected& event) override;
  void OnConnectFailed(const SessionConnectFailed& event) override;
  void OnChunk(const SessionChunk& event) override;
  void OnHalfClosed(const SessionHalfClosed& event) override;
  void OnConditionActed(const SessionConditionActed& event) override;
  void OnClosed(const SessionClosed& event) override;

 private:
  using Lifecycle = std::variant<SessionOpened, SessionConnected, SessionConnectFailed,
                                 SessionHalfClosed, SessionConditionActed, SessionClosed>;

  // Every event leaves a record in the queue: a chunk's header and bytes, or
  // a mark standing for the next event in lifecycle_.
  struct RecordHeader {
    bool is_chunk;
    Direction direction;
    // A chunk's forward; fits the padding, and capture keys hold no more.
    uint16_t forward;
    uint32_t size;  // bytes following the header
    SessionId session;
    EventTime time;
    std::chrono::nanoseconds held;  // chunks: as SessionChunk::held
  };

  // Hands the queue's buffers to the writers, on the worker thread.
  class Delivery : public BoundedByteQueue::Consumer {
   public:
    explicit Delivery(QueuedObserver* observer) : observer_(observer) {}
    void Deliver(const char* data, size_t size) override;
    void EndDrain() override;

   private:
    QueuedObserver* const observer_;
  };

  void EnqueueChunk(const SessionChunk& event);
  void EnqueueLifecycle(Lifecycle event);
  void DeliverLifecycle(const Lifecycle& event);

  const std::vector<std::shared_ptr<SessionEventWriter>> writers_;
  const std::vector<SessionEventWriter*> chunk_writers_;
  const std::chrono::milliseconds stop_time_limit_;
  std::atomic<uint64_t> dropped_events_{0};

  // The lifecycle events, in the order of their marks in the queue: pushed
  // while the queue's lock is held for the mark, taken by the worker.
  Mutex lifecycle_mutex_;
  std::deque<Lifecycle> lifecycle_ GUARDED_BY(lifecycle_mutex_);

  Delivery delivery_{this};
  BoundedByteQueue queue_;  // starts the worker: last
};

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_QUEUED_OBSERVER_H_

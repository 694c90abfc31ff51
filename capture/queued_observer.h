#ifndef PORTWICK_CAPTURE_QUEUED_OBSERVER_H_
#define PORTWICK_CAPTURE_QUEUED_OBSERVER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

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
// The worker sleeps until an event comes, then gathers events for a few
// milliseconds and delivers them as one batch: the output follows within
// milliseconds, and the relays wake it at most a few hundred times a second.
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
  static constexpr size_t kBufferSize = size_t{1} << 20;
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

  void Stop() LOCKS_EXCLUDED(mutex_);

  // Events dropped because they came after Stop.
  uint64_t dropped_events() const LOCKS_EXCLUDED(mutex_);
  // Bytes held by queued events now; relays waiting for room now.
  size_t QueuedBytes() const LOCKS_EXCLUDED(mutex_);
  int WaitingWriters() const LOCKS_EXCLUDED(mutex_);

  bool WantsChunks() const override { return !chunk_writers_.empty(); }
  void OnOpened(const SessionOpened& event) override;
  void OnConnected(const SessionConnected& event) override;
  void OnConnectFailed(const SessionConnectFailed& event) override;
  void OnChunk(const SessionChunk& event) override;
  void OnHalfClosed(const SessionHalfClosed& event) override;
  void OnClosed(const SessionClosed& event) override;

 private:
  using Lifecycle = std::variant<SessionOpened, SessionConnected, SessionConnectFailed,
                                 SessionHalfClosed, SessionClosed>;

  // Every event leaves a record in the buffers: a chunk's header and bytes,
  // or a mark standing for the next event in lifecycle_.
  struct RecordHeader {
    bool is_chunk;
    Direction direction;
    uint32_t size;  // bytes following the header
    SessionId session;
    EventTime time;
  };
  struct Buffer {
    std::unique_ptr<char[]> bytes;
    size_t capacity = 0;
    size_t used = 0;
    size_t held = 0;  // what its records count against the bound
  };
  struct Batch {
    std::deque<Buffer> buffers;
    std::deque<Lifecycle> lifecycle;
  };

  void EnqueueChunk(const SessionChunk& event) LOCKS_EXCLUDED(mutex_);
  void EnqueueLifecycle(Lifecycle event, SessionId session) LOCKS_EXCLUDED(mutex_);
  // Waits for room for `cost`; false when the worker has ended.
  bool WaitForRoom(size_t cost) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void Append(const RecordHeader& header, const char* data) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  Buffer& BufferWithRoom(size_t need) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void Run() LOCKS_EXCLUDED(mutex_);
  void Deliver(Batch& batch);
  void DeliverLifecycle(const Lifecycle& event);

  const std::vector<std::shared_ptr<SessionEventWriter>> writers_;
  std::vector<SessionEventWriter*> chunk_writers_;
  const size_t max_queued_bytes_;
  const std::chrono::milliseconds stop_time_limit_;

  mutable Mutex mutex_;
  CondVar work_{&mutex_};   // the worker waits here for events
  CondVar room_{&mutex_};   // relays wait here for room
  CondVar ended_{&mutex_};  // Stop waits here for the worker's end
  Batch queue_ GUARDED_BY(mutex_);
  std::vector<Buffer> spare_buffers_ GUARDED_BY(mutex_);
  size_t held_bytes_ GUARDED_BY(mutex_) = 0;
  int waiting_writers_ GUARDED_BY(mutex_) = 0;
  bool worker_idle_ GUARDED_BY(mutex_) = false;
  bool stop_requested_ GUARDED_BY(mutex_) = false;
  bool stopped_ GUARDED_BY(mutex_) = false;
  uint64_t dropped_events_ GUARDED_BY(mutex_) = 0;

  std::thread worker_;  // started last in the constructor
};

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_QUEUED_OBSERVER_H_

#ifndef PORTWICK_BASE_BOUNDED_BYTE_QUEUE_H_
#define PORTWICK_BASE_BOUNDED_BYTE_QUEUE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "base/mutex.h"

namespace portwick {

// A first-in, first-out queue of records copied back to back into large
// buffers, bounded in bytes, with a worker thread of its own that hands the
// buffers, in the order they were filled, to a Consumer.
//
// Writers copy a record into the last buffer under the lock (Push) and
// return. Each record counts a cost of the writer's choosing against the
// bound until its buffer has been delivered; a writer that finds no room
// waits until the worker has made room (back-pressure: nothing is dropped).
// The bound is filled exactly: a record fits while the held cost plus its
// own is at most the bound. A record costing more than the bound waits for
// an empty queue and then passes alone.
//
// The worker sleeps while the queue is empty. The first record queued wakes
// it; it then waits the drain period, unless woken early by kWakeBytes held
// (or half the bound, if less), by a writer waiting for room or by Stop, and
// delivers everything queued, records queued meanwhile included. Emptied
// buffers are kept for reuse: all of them under load, a few after a drain
// period that passed without an early wake.
//
// Lifetime: the worker starts in the constructor; `consumer` is borrowed and
// must stay usable until Stop has returned true (the destructor stops). Stop
// delivers every record pushed before it; pushes after the worker has ended
// fail. Thread safety: Push and the counters from any number of threads at
// once; Stop, StopBefore, LeaveBehind and destruction from the owner's
// thread only, never from the consumer.
class BoundedByteQueue {
 public:
  // Receives the records on the worker thread, a buffer at a time.
  class Consumer {
   public:
    virtual ~Consumer() = default;
    // `size` bytes of records, laid out as the writers' Fill functions wrote
    // them, back to back. Valid only during the call.
    virtual void Deliver(const char* data, size_t size) = 0;
    // Around the buffers taken off the queue at once (a drain); never for an
    // empty one.
    virtual void BeginDrain() {}
    virtual void EndDrain() {}
  };

  enum class State : int32_t {
    kRunning = 1,
    kStopRequested = 2,
    kStopped = 3,
  };

  // Size of one buffer; a larger record gets a buffer of its own.
  static constexpr size_t kBufferSize = size_t{1} << 20;
  // Held cost at which writers wake the worker early (at most half the
  // bound): heavy traffic is delivered a buffer at a time, while it is hot.
  static constexpr size_t kWakeBytes = size_t{1} << 20;

  struct Options {
    size_t max_bytes = size_t{16} << 20;  // the bound on what records cost
    std::chrono::milliseconds drain_period{1000};
  };

  BoundedByteQueue(Options options, Consumer* consumer);
  BoundedByteQueue(const BoundedByteQueue&) = delete;
  BoundedByteQueue& operator=(const BoundedByteQueue&) = delete;
  // Stops (delivering what is queued) unless the worker was left behind.
  ~BoundedByteQueue();

  // Waits for room for `cost`, then has `fill(char* at)` write the record's
  // `size` bytes at `at`, under the queue's lock (keep it to a copy). False,
  // without calling `fill`, when the worker has ended. Exceptions from `fill`
  // or from allocating a buffer pass through; nothing is queued then.
  template <typename Fill>
  bool Push(size_t size, size_t cost, Fill&& fill) LOCKS_EXCLUDED(mutex_) {
    MutexLock lock(&mutex_);
    char* at = Reserve(size, cost);
    if (at == nullptr) return false;
    fill(at);
    Commit(size, cost);
    return true;
  }

  // Asks the worker to deliver what is queued and end, and waits until it has
  // ended, calling `serve` (when given) between short waits: a delivery may
  // be waiting for this thread. A nested call from inside `serve` is
  // harmless.
  void Stop(const std::function<void()>& serve = {}) LOCKS_EXCLUDED(mutex_);
  // The same, but gives up waiting at `deadline`. True when the worker has
  // ended; false when it had not by then, and the queue (and the consumer)
  // must then live on until a later Stop has returned.
  bool StopBefore(std::chrono::steady_clock::time_point deadline,
                  const std::function<void()>& serve = {}) LOCKS_EXCLUDED(mutex_);
  // For a queue that will never be destroyed (its consumer is blocked for
  // good): lets the worker go on alone, without anyone joining it.
  void LeaveBehind();

  State state() const LOCKS_EXCLUDED(mutex_);
  // Cost and number of the records held now: queued, or in a buffer being
  // delivered.
  size_t HeldCost() const LOCKS_EXCLUDED(mutex_);
  size_t HeldRecords() const LOCKS_EXCLUDED(mutex_);
  // Writers waiting for room right now.
  int WaitingWriters() const LOCKS_EXCLUDED(mutex_);

 private:
  struct Buffer {
    std::unique_ptr<char[]> bytes;
    size_t capacity = 0;
    size_t used = 0;
    size_t held = 0;  // what its records cost
    size_t records = 0;
  };

  // Waits for room, then returns where `size` bytes go, or null when the
  // worker has ended.
  char* Reserve(size_t size, size_t cost) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void Commit(size_t size, size_t cost) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  bool HasRoom(size_t cost) const EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void WakeWorker() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // Whether the worker must drain (or end) now rather than sleep on.
  bool HasUrgentWork() const EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void Run() LOCKS_EXCLUDED(mutex_);
  // Sleeps until the queue is due for a drain; true when woken early.
  bool Sleep() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void DeliverBatch(std::deque<Buffer>& batch) LOCKS_EXCLUDED(mutex_);
  void Release(Buffer buffer) LOCKS_EXCLUDED(mutex_);
  bool StopAndWait(const std::chrono::steady_clock::time_point* deadline,
                   const std::function<void()>& serve) LOCKS_EXCLUDED(mutex_);

  const size_t max_bytes_;
  const size_t wake_bytes_;
  const std::chrono::milliseconds drain_period_;
  Consumer* const consumer_;

  mutable Mutex mutex_;
  CondVar work_{&mutex_};                        // the worker sleeps here
  CondVar room_{&mutex_};                        // writers wait here for room
  CondVar stopped_{&mutex_};                     // Stop waits here for the worker's end
  std::deque<Buffer> queue_ GUARDED_BY(mutex_);  // back() is being filled
  std::vector<Buffer> spare_ GUARDED_BY(mutex_);
  size_t held_cost_ GUARDED_BY(mutex_) = 0;
  size_t held_records_ GUARDED_BY(mutex_) = 0;
  int waiting_writers_ GUARDED_BY(mutex_) = 0;
  bool idle_ GUARDED_BY(mutex_) = false;  // asleep on an empty queue
  bool wake_ GUARDED_BY(mutex_) = false;  // drain without waiting out the period
  State state_ GUARDED_BY(mutex_) = State::kRunning;

  std::thread worker_;  // started last in the constructor
};

}  // namespace portwick

#endif  // PORTWICK_BASE_BOUNDED_BYTE_QUEUE_H_

#ifndef PORTWICK_ENGINE_LOG_SINK_HANDLE_H_
#define PORTWICK_ENGINE_LOG_SINK_HANDLE_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "base/mutex.h"
#include "engine/log_sink.h"

namespace portwick {

// Called over and over while a thread waits for other threads that may in
// turn be waiting for it (the GUI thread serves its events here).
using ServeEvents = std::function<void()>;

// Keeps relay threads from calling a sink that its owner has released.
//
// The owner of the sinks creates one handle per run and gives it to the
// listener, which passes it to every session (the handle is shared across
// threads, hence std::shared_ptr). A relay thread calls Acquire() for each
// record and holds the returned Use from Write through ReleaseOutput. Before
// destroying the sink, the owner calls Detach(): no further Acquire succeeds,
// and Detach returns only when every Use in flight has ended. A session whose
// Acquire fails must end instead of forwarding unlogged bytes.
//
// A handle made with a null sink passes records through unlogged until it is
// detached.
class LogSinkHandle {
 public:
  // Marks one call in flight; empty when the handle was detached.
  class Use {
   public:
    Use() = default;
    Use(Use&& other) noexcept;
    Use& operator=(Use&& other) noexcept;
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    ~Use();

    explicit operator bool() const { return handle_ != nullptr; }
    // The sink to call; null when the handle passes records through unlogged.
    LogSink* sink() const { return sink_; }

   private:
    friend class LogSinkHandle;
    Use(LogSinkHandle* handle, LogSink* sink) : handle_(handle), sink_(sink) {}
    void Reset();

    LogSinkHandle* handle_ = nullptr;
    LogSink* sink_ = nullptr;
  };

  // `sink` may be null; it is borrowed and must outlive Detach().
  explicit LogSinkHandle(LogSink* sink);
  LogSinkHandle(const LogSinkHandle&) = delete;
  LogSinkHandle& operator=(const LogSinkHandle&) = delete;

  // Any thread.
  Use Acquire();

  // The owner's thread. Refuses new uses, then waits for those in flight,
  // calling `serve_events` (if set) between short waits. Calling it again, also
  // from inside serve_events, is harmless.
  void Detach(const ServeEvents& serve_events) LOCKS_EXCLUDED(mutex_);
  // The same, but gives up waiting at `deadline`: true when no use is in
  // flight any more; false when some still are (a relay thread blocked in a
  // sink's delivery), and the sink must then never be destroyed.
  bool DetachBefore(std::chrono::steady_clock::time_point deadline, const ServeEvents& serve_events)
      LOCKS_EXCLUDED(mutex_);

  // Uses in flight right now.
  uint64_t UsesInFlight() const;

  bool IsDetached() const;

  // False when every record passes through unlogged and unchanged (no sink,
  // or one that logs nothing): a relay may then move the bytes without
  // handing them to the sink, as long as it ends once the handle is
  // detached. Asks the sink under a use, so it is never asked once its owner
  // may destroy it; a detached handle says true (the copying relay then ends
  // at its first record). Any thread.
  bool NeedsBytes();
  // True when the records may go to the sink through its pipe
  // (LogSink::TakesPipedRecords); false without a sink, or once detached.
  // Any thread.
  bool TakesPipedRecords();

 private:
  void EndUse() LOCKS_EXCLUDED(mutex_);
  bool DetachAndWait(const std::chrono::steady_clock::time_point* deadline,
                     const ServeEvents& serve_events) LOCKS_EXCLUDED(mutex_);

  // The detached flag and the count of uses in flight share one word, so a
  // relay thread takes and gives back a use without a lock (every session of
  // a run uses the same handle for every record).
  static constexpr uint64_t kDetachedBit = uint64_t{1} << 63;

  LogSink* const sink_;
  std::atomic<uint64_t> state_{0};
  // Only for Detach's wait: the last use of a detached handle notifies under it.
  Mutex mutex_;
  CondVar idle_{&mutex_};
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_LOG_SINK_HANDLE_H_

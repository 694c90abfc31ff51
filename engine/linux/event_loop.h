#ifndef PORTWICK_ENGINE_LINUX_EVENT_LOOP_H_
#define PORTWICK_ENGINE_LINUX_EVENT_LOOP_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <vector>

#include "base/mutex.h"
#include "base/no_destructor.h"
#include "engine/linux/loop_session.h"

namespace portwick {

// A thread that runs event relay sessions (LoopSession): one epoll set,
// edge-triggered, many ready sockets per wake-up, and the sessions'
// deadlines (connect time-outs, idle time-outs) kept in order. There is one
// loop per processor (at most kMaxLoops), each new session going to the
// next in turn, so one descheduled loop holds up only its own sessions. A
// loop's thread and descriptors (the epoll set and an eventfd that wakes it
// for new sessions) are made by its first Adopt and end once no session has
// been left for a couple of seconds, so a quiet process keeps neither.
//
// Owns every session it adopted until it is done; sessions come in through
// a short queue under the mutex and are started on the loop thread, which
// alone touches them after that.
//
// Thread safety: Adopt and sessions() may be called from any thread.
class EventLoop {
 public:
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  static constexpr size_t kMaxLoops = 4;

  // The loop for the next session. The loops live for the whole process,
  // as their threads may.
  static EventLoop& ForNextSession();
  // Sessions of all loops adopted and not yet done.
  static size_t AllSessions();

  // Takes `session` and starts it on the loop thread. False, leaving it
  // with the caller, when the loop can't run (no descriptor, memory or
  // thread for it).
  bool Adopt(std::unique_ptr<LoopSession>& session) LOCKS_EXCLUDED(mutex_);

  // Sessions adopted and not yet done.
  size_t sessions() const LOCKS_EXCLUDED(mutex_);

 private:
  struct Loops;
  using Clock = LoopSession::Clock;
  using Timers = std::multimap<Clock::time_point, LoopSession*>;

  EventLoop() = default;
  ~EventLoop() = default;

  // Makes the descriptors and starts the thread, as needed.
  bool Prepare() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void Run() LOCKS_EXCLUDED(mutex_);
  // The loop thread's own state, between two waits.
  struct Round;
  void StartIncoming(Round& round) LOCKS_EXCLUDED(mutex_);
  // After a session was called: queues it for deletion when done, else
  // sees that its next deadline has a timer.
  void Settle(Round& round, LoopSession* session);
  void FireTimers(Round& round);
  // Deletes the sessions that are done; true when the thread should end.
  bool Reap(Round& round) LOCKS_EXCLUDED(mutex_);

  mutable Mutex mutex_;
  // Set by the thread while it waits with nothing queued: only then does
  // a new session need the eventfd to wake it.
  std::atomic<bool> sleeping_{false};
  int epoll_fd_ GUARDED_BY(mutex_) = -1;
  int wake_fd_ GUARDED_BY(mutex_) = -1;
  bool running_ GUARDED_BY(mutex_) = false;
  size_t sessions_ GUARDED_BY(mutex_) = 0;
  std::vector<std::unique_ptr<LoopSession>> incoming_ GUARDED_BY(mutex_);
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_LINUX_EVENT_LOOP_H_

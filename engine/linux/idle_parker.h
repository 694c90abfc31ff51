#ifndef PORTWICK_ENGINE_IDLE_PARKER_H_
#define PORTWICK_ENGINE_IDLE_PARKER_H_

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "base/mutex.h"
#include "base/no_destructor.h"
#include "base/socket_handle.h"
#include "engine/detached_thread.h"

struct epoll_event;

namespace portwick {

// Holds relay directions that have had nothing to relay for a while, so an
// idle session keeps no thread (and no thread stack) until its peer sends
// again. One thread watches every parked socket with epoll; when a socket
// becomes readable (bytes, end of stream, an error or a reset) its task is
// started on a thread of its own and relays on, blocking as before. The
// watching thread and its epoll descriptor are made by the first Park and
// end once nothing has been parked for a couple of seconds.
//
// A task may be parked with a deadline (a session's idle time-out): it is
// then started at the deadline too, readable or not, to look at its session
// again (and park anew). The watcher sleeps until the earliest deadline; a
// Park with an earlier one wakes it through an eventfd.
//
// A task whose thread can't be started is destroyed without running; its
// destructor must end what it stood for (a relay pump resets its session).
//
// Thread safety: every method may be called from any thread.
class IdleParker {
 public:
  IdleParker(const IdleParker&) = delete;
  IdleParker& operator=(const IdleParker&) = delete;

  // The one parker; lives for the whole process, as its watching thread may.
  static IdleParker& Default();

  using Clock = std::chrono::steady_clock;

  // Takes `task` and runs it on a new thread once `fd` is readable, or at
  // `deadline` when one is given and comes first. `fd` must stay open until
  // then (the task owns what keeps it open). Returns false, leaving `task`
  // with the caller, when `fd` can't be watched (no memory, descriptor or
  // thread for it); the caller then waits itself.
  bool Park(SocketHandle fd, std::unique_ptr<ThreadTask>& task,
            std::optional<Clock::time_point> deadline = std::nullopt) LOCKS_EXCLUDED(mutex_);

  // Tasks waiting for their socket.
  size_t parked() const LOCKS_EXCLUDED(mutex_);

 private:
  friend class NoDestructor<IdleParker>;
  struct Entry;

  IdleParker() = default;
  ~IdleParker() = default;
  void Watch() LOCKS_EXCLUDED(mutex_);
  // Makes the epoll and wake descriptors and starts the watcher, as needed.
  bool Prepare() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  bool StartWatcher() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // Links `entry` and watches its socket; false (nothing linked) on failure.
  bool Link(Entry* entry, std::optional<Clock::time_point> deadline)
      EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void Unlink(Entry* entry) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // How long the watcher may sleep: until the earliest deadline, at most
  // its usual wait.
  int SleepMilliseconds(Clock::time_point now) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // Takes the tasks whose socket became readable (`events`) or whose
  // deadline has passed.
  void TakeReady(const epoll_event* events, int count,
                 std::vector<std::unique_ptr<ThreadTask>>* ready) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void CloseDescriptors() EXCLUSIVE_LOCKS_REQUIRED(mutex_);

  mutable Mutex mutex_;
  int epoll_fd_ GUARDED_BY(mutex_) = -1;
  int wake_fd_ GUARDED_BY(mutex_) = -1;  // an eventfd that ends the watcher's sleep
  bool watching_ GUARDED_BY(mutex_) = false;
  size_t parked_ GUARDED_BY(mutex_) = 0;
  // Every parked entry, so they stay reachable (the kernel holds the only
  // other pointer to them).
  Entry* head_ GUARDED_BY(mutex_) = nullptr;
  // The entries parked with a deadline, earliest first.
  std::multimap<Clock::time_point, Entry*> deadlines_ GUARDED_BY(mutex_);
  // When the watcher wakes at the latest from its present sleep.
  Clock::time_point wakes_at_ GUARDED_BY(mutex_);
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_IDLE_PARKER_H_

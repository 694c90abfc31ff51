#ifndef PORTWICK_ENGINE_IDLE_PARKER_H_
#define PORTWICK_ENGINE_IDLE_PARKER_H_

#include <cstddef>
#include <memory>

#include "base/mutex.h"
#include "base/no_destructor.h"
#include "base/socket_handle.h"
#include "engine/detached_thread.h"

namespace portwick {

// Holds relay directions that have had nothing to relay for a while, so an
// idle session keeps no thread (and no thread stack) until its peer sends
// again. One thread watches every parked socket with epoll; when a socket
// becomes readable (bytes, end of stream, an error or a reset) its task is
// started on a thread of its own and relays on, blocking as before. The
// watching thread and its epoll descriptor are made by the first Park and
// end once nothing has been parked for a couple of seconds.
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

  // Takes `task` and runs it on a new thread once `fd` is readable. `fd`
  // must stay open until then (the task owns what keeps it open). Returns
  // false, leaving `task` with the caller, when `fd` can't be watched (no
  // memory, descriptor or thread for it); the caller then waits itself.
  bool Park(SocketHandle fd, std::unique_ptr<ThreadTask>& task) LOCKS_EXCLUDED(mutex_);

  // Tasks waiting for their socket.
  size_t parked() const LOCKS_EXCLUDED(mutex_);

 private:
  friend class NoDestructor<IdleParker>;
  struct Entry;

  IdleParker() = default;
  ~IdleParker() = default;
  void Watch() LOCKS_EXCLUDED(mutex_);
  bool StartWatcher() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void Unlink(Entry* entry) EXCLUSIVE_LOCKS_REQUIRED(mutex_);

  mutable Mutex mutex_;
  int epoll_fd_ GUARDED_BY(mutex_) = -1;
  bool watching_ GUARDED_BY(mutex_) = false;
  size_t parked_ GUARDED_BY(mutex_) = 0;
  // Every parked entry, so they stay reachable (the kernel holds the only
  // other pointer to them).
  Entry* head_ GUARDED_BY(mutex_) = nullptr;
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_IDLE_PARKER_H_

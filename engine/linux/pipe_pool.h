#ifndef PORTWICK_ENGINE_PIPE_POOL_H_
#define PORTWICK_ENGINE_PIPE_POOL_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <utility>
#include <vector>

#include "base/mutex.h"

namespace portwick {

// The two ends of a pipe that carries one direction's bytes from socket to
// socket inside the kernel. Owns both descriptors until it goes back to its
// pool or is destroyed (which closes them). Movable, not copyable.
class Pipe {
 public:
  Pipe() = default;
  Pipe(int read_fd, int write_fd) : read_fd_(read_fd), write_fd_(write_fd) {}
  Pipe(Pipe&& other) noexcept
      : read_fd_(std::exchange(other.read_fd_, -1)),
        write_fd_(std::exchange(other.write_fd_, -1)) {}
  Pipe& operator=(Pipe&& other) noexcept;
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  ~Pipe() { Close(); }

  bool valid() const { return read_fd_ >= 0; }
  int read_fd() const { return read_fd_; }
  int write_fd() const { return write_fd_; }
  void Close();

 private:
  int read_fd_ = -1;
  int write_fd_ = -1;
};

// Keeps empty pipes for the directions that splice, so a session borrows
// one instead of making two new ones. A direction holds a pipe only while
// bytes flow; an idle one gives it back.
//
// Pipes count against the process's descriptor limit: Acquire makes a new
// pipe only while the descriptor table is well below the limit (the new
// descriptors' numbers tell, since the system hands out the lowest free
// ones), and otherwise returns no pipe, so the caller copies instead of
// taking the descriptors that new connections need; nor does it hand out a
// kept one to a session whose own descriptors are that close. CloseIdle gives the kept
// descriptors back when they run short, and kept pipes are closed anyway
// once no pipe has been taken or given back for `keep_idle`: a thread of the
// pool waits for that while it keeps pipes, so a quiet process holds no more
// descriptors than before its sessions.
//
// Thread safety: every method may be called from any thread.
class PipePool {
 public:
  static constexpr std::chrono::milliseconds kKeepIdle{3000};

  // Pipes are enlarged to `pipe_size` bytes where the system allows it; at
  // most `max_idle` empty pipes are kept, for `keep_idle` after the last use
  // of any. `descriptor_limit` stands in for the process's limit when
  // positive (for tests).
  PipePool(int pipe_size, size_t max_idle, long descriptor_limit = 0,
           std::chrono::milliseconds keep_idle = kKeepIdle);
  PipePool(const PipePool&) = delete;
  PipePool& operator=(const PipePool&) = delete;
  // Ends the pool's waiting thread and closes the kept pipes.
  ~PipePool() LOCKS_EXCLUDED(mutex_);

  // The pool the relay uses; lives for the whole process.
  static PipePool& Default();

  // An empty pipe, kept or new; an invalid one when none can be had (no
  // descriptors or memory to spare). `session_fd`, a descriptor of the
  // asking session, tells how full the descriptor table is: when it is near
  // the limit, no pipe is handed out and the kept ones are closed, so the
  // descriptors go to new connections and this session copies.
  Pipe Acquire(int session_fd = -1) LOCKS_EXCLUDED(mutex_);

  // Takes back a pipe that holds no bytes. (A pipe that may still hold bytes
  // is destroyed instead, never put back.)
  void Release(Pipe pipe) LOCKS_EXCLUDED(mutex_);

  // Closes every kept pipe.
  void CloseIdle() LOCKS_EXCLUDED(mutex_);

  size_t idle_count() const LOCKS_EXCLUDED(mutex_);
  // The size asked for new pipes (the most one splice moves).
  int pipe_size() const { return pipe_size_; }

 private:
  Pipe MakePipe();
  // The pool's thread while it keeps pipes: closes them once unused for
  // keep_idle_, then ends.
  void CloseWhenUnused() LOCKS_EXCLUDED(mutex_);

  // The process's descriptor limit (or the one given for tests), as the
  // system said it the last time it was asked; -1 when there is none.
  long DescriptorLimit(bool ask_system) const;
  bool NearDescriptorLimit(int highest_fd, bool ask_system) const;

  const int pipe_size_;
  const size_t max_idle_;
  const long descriptor_limit_;
  const std::chrono::milliseconds keep_idle_;
  mutable Mutex mutex_;
  CondVar changed_{&mutex_};  // the closing thread ended, or the pool is going
  std::vector<Pipe> idle_ GUARDED_BY(mutex_);
  std::chrono::steady_clock::time_point last_use_ GUARDED_BY(mutex_);
  bool closer_running_ GUARDED_BY(mutex_) = false;
  bool destroying_ GUARDED_BY(mutex_) = false;
  // The last session that asked for a pipe was near the descriptor limit.
  std::atomic<bool> near_limit_{false};
  mutable std::atomic<long> known_limit_{0};  // 0 until first asked
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_PIPE_POOL_H_

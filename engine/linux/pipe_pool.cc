#include "engine/linux/pipe_pool.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <new>

#include "base/no_destructor.h"
#include "engine/detached_thread.h"

namespace portwick {

namespace {

// Bytes per pipe: large enough that one splice moves what a busy loopback
// connection has queued, small enough for the per-user pipe memory limit of
// an ordinary account (pipes are held only while bytes flow). Measured on one
// loopback connection: 1 MiB took 0.24-0.34 s of CPU per GiB relayed, 256 KiB
// 0.36-0.48 and 64 KiB 0.36-0.58; SPLICE_F_MORE on top saved nothing.
constexpr int kPipeSize = 1 << 20;
constexpr size_t kMaxIdlePipes = 64;

// Descriptors left to sockets, log files and the like: a new pipe whose
// descriptors land this close to the limit is given back at once, and a
// session whose own descriptors are this close gets none. Pipes taken just
// before stay out until their directions go quiet, so the reserve must
// outlast that while connections keep coming: 1,024 of 20,000 were enough
// for a client opening a session every 50 us, 256 were not.
long ReservedDescriptors(long limit) { return std::clamp<long>(limit / 16, 16, 1024); }

}  // namespace

long PipePool::DescriptorLimit(bool ask_system) const {
  if (descriptor_limit_ > 0) return descriptor_limit_;
  long known = known_limit_.load(std::memory_order_relaxed);
  if (known != 0 && !ask_system) return known;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    known = -1;
  } else {
    known = static_cast<long>(std::min<rlim_t>(limit.rlim_cur, LONG_MAX));
  }
  known_limit_.store(known, std::memory_order_relaxed);
  return known;
}

bool PipePool::NearDescriptorLimit(int highest_fd, bool ask_system) const {
  const long limit = DescriptorLimit(ask_system);
  return limit > 0 && highest_fd + ReservedDescriptors(limit) >= limit;
}

Pipe& Pipe::operator=(Pipe&& other) noexcept {
  if (this != &other) {
    Close();
    read_fd_ = std::exchange(other.read_fd_, -1);
    write_fd_ = std::exchange(other.write_fd_, -1);
  }
  return *this;
}

void Pipe::Close() {
  if (read_fd_ >= 0) ::close(std::exchange(read_fd_, -1));
  if (write_fd_ >= 0) ::close(std::exchange(write_fd_, -1));
}

PipePool::PipePool(int pipe_size, size_t max_idle, long descriptor_limit,
                   std::chrono::milliseconds keep_idle)
    : pipe_size_(pipe_size),
      max_idle_(max_idle),
      descriptor_limit_(descriptor_limit),
      keep_idle_(keep_idle) {}

PipePool::~PipePool() {
  MutexLock lock(&mutex_);
  destroying_ = true;
  changed_.SignalAll();
  while (closer_running_) changed_.Wait();
}

PipePool& PipePool::Default() {
  static NoDestructor<PipePool> pool(kPipeSize, kMaxIdlePipes);
  return *pool.get();
}

Pipe PipePool::Acquire(int session_fd) {
  if (session_fd >= 0) {
    // The limit last asked for: asking the system costs a call per session.
    const bool near_limit = NearDescriptorLimit(session_fd, false);
    near_limit_.store(near_limit, std::memory_order_relaxed);
    if (near_limit) {
      CloseIdle();
      return Pipe();
    }
  }
  {
    MutexLock lock(&mutex_);
    last_use_ = std::chrono::steady_clock::now();
    if (!idle_.empty()) {
      Pipe pipe = std::move(idle_.back());
      idle_.pop_back();
      return pipe;
    }
  }
  return MakePipe();
}

Pipe PipePool::MakePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return Pipe();
  Pipe pipe(fds[0], fds[1]);
  if (NearDescriptorLimit(std::max(fds[0], fds[1]), true)) return Pipe();
  // Refused beyond the per-user pipe memory limit; the default size works.
  ::fcntl(pipe.write_fd(), F_SETPIPE_SZ, pipe_size_);
  return pipe;
}

void PipePool::Release(Pipe pipe) {
  // Near the limit, pipes given back are closed rather than kept.
  if (!pipe.valid() || near_limit_.load(std::memory_order_relaxed)) return;
  MutexLock lock(&mutex_);
  last_use_ = std::chrono::steady_clock::now();
  if (idle_.size() >= max_idle_) return;
  idle_.push_back(std::move(pipe));
  if (closer_running_) return;
  try {
    closer_running_ = StartDetachedThread(MakeTask([this] { CloseWhenUnused(); }), kRelayStackSize);
  } catch (const std::bad_alloc&) {
  }
  // Without the thread the pipes are kept until CloseIdle or the next try.
}

void PipePool::CloseWhenUnused() {
  std::vector<Pipe> closing;
  MutexLock lock(&mutex_);
  while (!idle_.empty() && !destroying_) {
    const auto quiet_until = last_use_ + keep_idle_;
    if (std::chrono::steady_clock::now() >= quiet_until) {
      closing.swap(idle_);
      break;
    }
    changed_.WaitUntil(quiet_until);
  }
  closer_running_ = false;
  changed_.SignalAll();
  // `closing` is closed after the lock is let go (declared before it).
}

void PipePool::CloseIdle() {
  DescriptorLimit(true);  // asked again: the limit may have changed
  std::vector<Pipe> closing;
  {
    MutexLock lock(&mutex_);
    closing.swap(idle_);
  }
}

size_t PipePool::idle_count() const {
  MutexLock lock(&mutex_);
  return idle_.size();
}

}  // namespace portwick

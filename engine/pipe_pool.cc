#include "engine/pipe_pool.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "base/no_destructor.h"

namespace portwick {

namespace {

// Bytes per pipe: large enough that one splice moves what a busy loopback
// connection has queued, small enough for the per-user pipe memory limit of
// an ordinary account (pipes are held only while bytes flow).
constexpr int kPipeSize = 1 << 20;
constexpr size_t kMaxIdlePipes = 64;

// Descriptors left to sockets, log files and the like: a new pipe whose
// descriptors land this close to the limit is given back at once.
int ReservedDescriptors(rlim_t limit) {
  return static_cast<int>(std::clamp<rlim_t>(limit / 32, 16, 256));
}

}  // namespace

bool PipePool::NearDescriptorLimit(int highest_fd) const {
  rlimit limit{};
  if (descriptor_limit_ > 0) {
    limit.rlim_cur = static_cast<rlim_t>(descriptor_limit_);
  } else if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return false;
  }
  const rlim_t reserved = static_cast<rlim_t>(ReservedDescriptors(limit.rlim_cur));
  return static_cast<rlim_t>(highest_fd) + reserved >= limit.rlim_cur;
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

PipePool::PipePool(int pipe_size, size_t max_idle, long descriptor_limit)
    : pipe_size_(pipe_size), max_idle_(max_idle), descriptor_limit_(descriptor_limit) {}

PipePool& PipePool::Default() {
  static NoDestructor<PipePool> pool(kPipeSize, kMaxIdlePipes);
  return *pool.get();
}

Pipe PipePool::Acquire() {
  {
    MutexLock lock(&mutex_);
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
  if (NearDescriptorLimit(std::max(fds[0], fds[1]))) return Pipe();
  // Refused beyond the per-user pipe memory limit; the default size works.
  ::fcntl(pipe.write_fd(), F_SETPIPE_SZ, pipe_size_);
  return pipe;
}

void PipePool::Release(Pipe pipe) {
  if (!pipe.valid()) return;
  MutexLock lock(&mutex_);
  if (idle_.size() < max_idle_) idle_.push_back(std::move(pipe));
}

void PipePool::CloseIdle() {
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

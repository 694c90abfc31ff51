#include "engine/log_sink_handle.h"

#include <chrono>
#include <utility>

namespace portwick {

namespace {
// How long Detach blocks between two rounds of serving events.
constexpr std::chrono::milliseconds kServeInterval{5};
}  // namespace

LogSinkHandle::Use::Use(Use&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), sink_(std::exchange(other.sink_, nullptr)) {}

LogSinkHandle::Use& LogSinkHandle::Use::operator=(Use&& other) noexcept {
  if (this != &other) {
    Reset();
    handle_ = std::exchange(other.handle_, nullptr);
    sink_ = std::exchange(other.sink_, nullptr);
  }
  return *this;
}

LogSinkHandle::Use::~Use() { Reset(); }

void LogSinkHandle::Use::Reset() {
  if (handle_ != nullptr) {
    std::exchange(handle_, nullptr)->EndUse();
    sink_ = nullptr;
  }
}

LogSinkHandle::LogSinkHandle(LogSink* sink) : sink_(sink) {}

LogSinkHandle::Use LogSinkHandle::Acquire() {
  if (state_.fetch_add(1, std::memory_order_acquire) & kDetachedBit) {
    EndUse();
    return Use();
  }
  return Use(this, sink_);
}

void LogSinkHandle::EndUse() {
  const uint64_t before = state_.fetch_sub(1, std::memory_order_release);
  if (before == (kDetachedBit | 1)) {
    // The last use of a detached handle: wake Detach. Taking the lock makes
    // sure Detach is either not yet waiting or already waiting.
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.notify_all();
  }
}

void LogSinkHandle::Detach(const ServeEvents& serve_events) {
  state_.fetch_or(kDetachedBit, std::memory_order_acq_rel);
  const auto idle = [this] { return state_.load(std::memory_order_acquire) == kDetachedBit; };
  std::unique_lock<std::mutex> lock(mutex_);
  while (!idle()) {
    if (serve_events) {
      // A use in flight may be waiting for this thread (a pane delivery that
      // needs the GUI thread), so serve events without holding the lock.
      lock.unlock();
      serve_events();
      lock.lock();
      idle_.wait_for(lock, kServeInterval, idle);
    } else {
      idle_.wait(lock, idle);
    }
  }
}

bool LogSinkHandle::IsDetached() const {
  return (state_.load(std::memory_order_acquire) & kDetachedBit) != 0;
}

}  // namespace portwick

#include "engine/log_sink_handle.h"

#include <chrono>
#include <utility>

namespace portwick {

namespace {
// How long Detach blocks between two rounds of serving events.
constexpr std::chrono::milliseconds kServeInterval{5};
}  // namespace

LogSinkHandle::Use::Use(Use&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      sink_(std::exchange(other.sink_, nullptr)) {}

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
  std::lock_guard<std::mutex> lock(mutex_);
  if (detached_) return Use();
  ++uses_in_flight_;
  return Use(this, sink_);
}

void LogSinkHandle::EndUse() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--uses_in_flight_ == 0) idle_.notify_all();
}

void LogSinkHandle::Detach(const ServeEvents& serve_events) {
  std::unique_lock<std::mutex> lock(mutex_);
  detached_ = true;
  while (uses_in_flight_ > 0) {
    if (serve_events) {
      // A use in flight may be waiting for this thread (a pane delivery that
      // needs the GUI thread), so serve events without holding the lock.
      lock.unlock();
      serve_events();
      lock.lock();
      idle_.wait_for(lock, kServeInterval, [this] { return uses_in_flight_ == 0; });
    } else {
      idle_.wait(lock, [this] { return uses_in_flight_ == 0; });
    }
  }
}

bool LogSinkHandle::IsDetached() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return detached_;
}

}  // namespace portwick

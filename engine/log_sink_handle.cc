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
    MutexLock lock(&mutex_);
    idle_.SignalAll();
  }
}

void LogSinkHandle::Detach(const ServeEvents& serve_events) {
  DetachAndWait(nullptr, serve_events);
}

bool LogSinkHandle::DetachBefore(std::chrono::steady_clock::time_point deadline,
                                 const ServeEvents& serve_events) {
  return DetachAndWait(&deadline, serve_events);
}

bool LogSinkHandle::DetachAndWait(const std::chrono::steady_clock::time_point* deadline,
                                  const ServeEvents& serve_events) {
  state_.fetch_or(kDetachedBit, std::memory_order_acq_rel);
  const auto idle = [this] { return state_.load(std::memory_order_acquire) == kDetachedBit; };
  const auto passed = [deadline] {
    return deadline != nullptr && std::chrono::steady_clock::now() >= *deadline;
  };
  mutex_.Lock();
  while (!idle() && !passed()) {
    if (serve_events) {
      // A use in flight may be waiting for this thread (a pane delivery that
      // needs the GUI thread), so serve events without holding the lock.
      mutex_.Unlock();
      serve_events();
      mutex_.Lock();
      if (!idle()) idle_.WaitFor(kServeInterval);
    } else if (deadline != nullptr) {
      idle_.WaitUntil(*deadline);
    } else {
      idle_.Wait();
    }
  }
  mutex_.Unlock();
  return idle();
}

uint64_t LogSinkHandle::UsesInFlight() const {
  return state_.load(std::memory_order_acquire) & ~kDetachedBit;
}

bool LogSinkHandle::NeedsBytes() {
  const Use use = Acquire();
  if (!use) return true;
  return use.sink() != nullptr && !use.sink()->LogsNothing();
}

bool LogSinkHandle::TakesPipedRecords() {
  const Use use = Acquire();
  return use && use.sink() != nullptr && use.sink()->TakesPipedRecords();
}

bool LogSinkHandle::IsDetached() const {
  return (state_.load(std::memory_order_acquire) & kDetachedBit) != 0;
}

}  // namespace portwick

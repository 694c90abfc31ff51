#include "capture/session_tracker.h"

#include <algorithm>

namespace portwick {

namespace {
// How long a wait that serves events blocks between two rounds of serving.
constexpr std::chrono::milliseconds kServeInterval{5};
}  // namespace

void SessionTracker::OnOpened(const SessionOpened& /*event*/) {
  MutexLock lock(&mutex_);
  ++open_;
}

void SessionTracker::OnClosed(const SessionClosed& /*event*/) {
  MutexLock lock(&mutex_);
  if (--open_ == 0) idle_.SignalAll();
}

int64_t SessionTracker::open() const {
  MutexLock lock(&mutex_);
  return open_;
}

bool SessionTracker::WaitUntilIdle(std::chrono::steady_clock::time_point deadline,
                                   const std::function<void()>& serve_events) {
  mutex_.Lock();
  while (open_ > 0 && std::chrono::steady_clock::now() < deadline) {
    if (serve_events) {
      mutex_.Unlock();
      serve_events();
      mutex_.Lock();
      if (open_ > 0) {
        idle_.WaitUntil(std::min(deadline, std::chrono::steady_clock::now() + kServeInterval));
      }
    } else {
      idle_.WaitUntil(deadline);
    }
  }
  const bool idle = open_ <= 0;
  mutex_.Unlock();
  return idle;
}

}  // namespace portwick

#ifndef PORTWICK_CAPTURE_SESSION_TRACKER_H_
#define PORTWICK_CAPTURE_SESSION_TRACKER_H_

#include <chrono>
#include <cstdint>
#include <functional>

#include "base/mutex.h"
#include "engine/session_observer.h"

namespace portwick {

// Counts the sessions of a run that have opened and not yet closed, so that
// a stop can wait until every session's last event has been given to the
// observers before their output is closed.
//
// The observer methods come from the engine's threads; open() and
// WaitUntilIdle from any thread.
class SessionTracker : public SessionObserver {
 public:
  bool WantsChunks() const override { return false; }
  void OnOpened(const SessionOpened& event) override LOCKS_EXCLUDED(mutex_);
  void OnClosed(const SessionClosed& event) override LOCKS_EXCLUDED(mutex_);

  int64_t open() const LOCKS_EXCLUDED(mutex_);

  // Waits until no session is open or `deadline` has passed, calling
  // `serve_events` (if set) between short waits; true when none is open.
  bool WaitUntilIdle(std::chrono::steady_clock::time_point deadline,
                     const std::function<void()>& serve_events = {}) LOCKS_EXCLUDED(mutex_);

 private:
  mutable Mutex mutex_;
  CondVar idle_{&mutex_};
  int64_t open_ GUARDED_BY(mutex_) = 0;
};

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_SESSION_TRACKER_H_

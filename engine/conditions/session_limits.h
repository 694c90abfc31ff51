#ifndef PORTWICK_ENGINE_CONDITIONS_SESSION_LIMITS_H_
#define PORTWICK_ENGINE_CONDITIONS_SESSION_LIMITS_H_

#include <chrono>
#include <cstdint>

namespace portwick {

// The limits a listener puts on its sessions. Zero turns each off. A value
// type; any thread.
struct SessionLimits {
  // The most a connect to the destination may take; 0: the system's.
  std::chrono::milliseconds connect_timeout{0};
  // A session with no bytes either way for this long is closed (a FIN to
  // both sides); 0: never.
  std::chrono::milliseconds idle_timeout{0};
  // At this many open sessions new connections wait in the listen queue
  // until one ends; 0: no cap.
  uint32_t max_sessions = 0;

  // The largest max_sessions taken.
  static constexpr uint32_t kMaxSessionsLimit = 1000000;

  friend bool operator==(const SessionLimits&, const SessionLimits&) = default;
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_CONDITIONS_SESSION_LIMITS_H_

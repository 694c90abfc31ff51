#ifndef PORTWICK_CAPTURE_SESSION_LABEL_H_
#define PORTWICK_CAPTURE_SESSION_LABEL_H_

#include <cstdint>
#include <string>

#include "engine/session_observer.h"

namespace portwick {

// A run with several forwards numbers the sessions of each forward 1, 2, 3 ...
// on its own, and its events say the forward (ForwardNumber). What the
// capture keeps per session (the store's list, the trace's and the pcapng
// writer's open sessions) is keyed by CaptureKey, one value for the pair: the
// forward in the high bits, the number in the low ones. A run with one
// forward has forward 0, so its keys are the session numbers. The pcapng
// writer derives its sequence numbers from the key, so the key's value is
// part of the output. Plain functions; any thread.
inline constexpr int kForwardShift = 48;
inline constexpr SessionId kSessionNumberMask = (SessionId{1} << kForwardShift) - 1;

inline SessionId CaptureKey(ForwardNumber forward, SessionId number) {
  return (SessionId{forward} << kForwardShift) | (number & kSessionNumberMask);
}
// The key of the session an event belongs to.
template <typename Event>
SessionId CaptureKeyOf(const Event& event) {
  return CaptureKey(event.forward, event.session);
}
inline ForwardNumber ForwardOf(SessionId key) {
  return static_cast<ForwardNumber>(key >> kForwardShift);
}
inline SessionId NumberOf(SessionId key) { return key & kSessionNumberMask; }

// "3" for session 3 of a run with one forward, "2.3" for session 3 of forward 2.
std::string SessionLabel(ForwardNumber forward, SessionId number);
// The same for a capture key.
inline std::string KeyLabel(SessionId key) { return SessionLabel(ForwardOf(key), NumberOf(key)); }

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_SESSION_LABEL_H_

#ifndef PORTWICK_CAPTURE_SESSION_LABEL_H_
#define PORTWICK_CAPTURE_SESSION_LABEL_H_

#include <cstdint>
#include <string>

#include "engine/session_observer.h"

namespace portwick {

// A run with several forwards numbers the sessions of each forward 1, 2, 3 ...
// on its own. The observers of such a run see session ids tagged with the
// forward's number (1, 2, ... in the order the forwards were given) in the
// high bits, so one capture, trace or pcap output tells them apart. A run
// with one forward leaves the ids untagged (forward 0).
inline constexpr int kForwardShift = 48;
inline constexpr SessionId kSessionNumberMask = (SessionId{1} << kForwardShift) - 1;

inline SessionId TagSession(uint32_t forward, SessionId number) {
  return (SessionId{forward} << kForwardShift) | (number & kSessionNumberMask);
}
inline uint32_t ForwardOf(SessionId id) { return static_cast<uint32_t>(id >> kForwardShift); }
inline SessionId NumberOf(SessionId id) { return id & kSessionNumberMask; }

// "3" for session 3 of an untagged run, "2.3" for session 3 of forward 2.
std::string SessionLabel(SessionId id);

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_SESSION_LABEL_H_

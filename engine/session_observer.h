#ifndef PORTWICK_ENGINE_SESSION_OBSERVER_H_
#define PORTWICK_ENGINE_SESSION_OBSERVER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/endpoint.h"
#include "base/status.h"

namespace portwick {

// Sessions are numbered 1, 2, 3 ... per listener run.
using SessionId = uint64_t;

// Which forward of a run a session belongs to, carried by every event next
// to its number: 0 in a run of one forward (the listener's own events always
// say 0), 1, 2, ... in the order the forwards were given when a run has
// several (set by the run's ForwardTagger, capture/observer_fan_out.h).
// Sessions of different forwards may have the same number.
using ForwardNumber = uint32_t;

enum class Direction : uint8_t {
  kClientToServer,  // "up": what the client sent, relayed to the destination
  kServerToClient,  // "down": what the destination sent, relayed to the client
};

// When something happened: the wall clock (shown to people, written into
// captures) and the monotonic clock (for durations and ordering).
struct EventTime {
  std::chrono::system_clock::time_point wall;
  std::chrono::steady_clock::time_point monotonic;

  static EventTime Now() {
    return {std::chrono::system_clock::now(), std::chrono::steady_clock::now()};
  }
};

// A client was accepted. The first event of every session.
struct SessionOpened {
  SessionId session = 0;
  Endpoint client;            // the client's address and port
  Endpoint listener;          // the local address and port it connected to
  EventTime time;             // when it was accepted
  ForwardNumber forward = 0;  // see ForwardNumber
};

// The outgoing connection is up.
struct SessionConnected {
  SessionId session = 0;
  Endpoint destination;              // the address actually connected to, and its port
  Endpoint local;                    // the outgoing socket's own address and port
  std::chrono::nanoseconds took{0};  // from SessionOpened to now
  EventTime time;
  ForwardNumber forward = 0;  // see ForwardNumber
};

// The outgoing connection could not be made to any address of the
// destination; the session ends (the client's connection is closed without
// data) and SessionClosed follows. Not reported when the listener was stopped
// while connecting (SessionClosed says kStopped then).
struct SessionConnectFailed {
  SessionId session = 0;
  std::string host;  // the destination as configured
  uint16_t port = 0;
  // step() is "resolve", "socket" or "connect"; reason() the system's text.
  // With several addresses, the failure of the last one tried.
  Status status;
  EventTime time;
  ForwardNumber forward = 0;  // see ForwardNumber
};

// Bytes relayed in one direction, exactly as sent on (zero bytes included;
// nothing appended; what the log sink passes on). `data` is valid only during
// the call. A chunk is reported after the log sink has it and before it is
// sent on, so a reply can't be reported before the bytes it answers; when
// that send fails, the session ends with the failure (SessionClosed) and the
// peer may not have got all of the chunk.
struct SessionChunk {
  SessionId session = 0;
  Direction direction = Direction::kClientToServer;
  EventTime time;  // when the bytes were received
  const char* data = nullptr;
  size_t size = 0;
  // How long a traffic condition (delay, rate, slice) held the bytes before
  // they were sent (`time` is then when they were sent); 0 without one.
  std::chrono::nanoseconds held{0};
  ForwardNumber forward = 0;  // see ForwardNumber
};

// One direction ended with a FIN, passed on to the other side; the other
// direction goes on.
struct SessionHalfClosed {
  SessionId session = 0;
  Direction direction = Direction::kClientToServer;
  EventTime time;
  ForwardNumber forward = 0;  // see ForwardNumber
};

// A traffic condition acted on one direction beyond holding its bytes
// (SessionChunk::held says that): a cut, after whose bytes the session ends
// (SessionClosed follows), or a stall, from which nothing more passes that
// way while the connection stays open. Reported once each, from the relay
// thread of that direction: a cut after its last bytes were sent, a stall
// when it begins (bytes that came before it may still follow, held).
struct SessionConditionActed {
  enum class Kind : uint8_t { kCut, kStall };
  SessionId session = 0;
  Direction direction = Direction::kClientToServer;
  Kind kind = Kind::kCut;
  // Bytes that pass that way in all: up to the cut, or before the stall.
  uint64_t bytes = 0;
  bool reset = false;  // a cut that ends with a reset rather than a FIN
  EventTime time;
  ForwardNumber forward = 0;  // see ForwardNumber
};

// How a session ended: the first of these that happened to it.
enum class CloseReason : uint8_t {
  // Both directions ended with a FIN.
  kBothFinished,
  // Receiving from the client failed (it reset its connection, or the
  // connection broke), or sending to it failed with ECONNRESET or EPIPE.
  kResetByClient,
  // The same on the destination's side.
  kResetByServer,
  // Sending on failed for another reason (a time-out, no buffer space, ...).
  kSendError,
  // The listener was stopped, the log sink released, or Portwick could not
  // go on with the session (no thread or memory for it).
  kStopped,
  // The outgoing connection was never made (SessionConnectFailed came).
  kConnectFailed,
  // A cut condition ended it after its bytes; the error's reason says how
  // ("cut after 4096 bytes: reset").
  kCut,
  // No bytes either way for the idle time-out; both sides got a FIN. The
  // error's reason says how long ("idle 30 s").
  kIdle,
};

// The session is over and both sockets are closed or about to be. The last
// event of every session that had SessionOpened, and the only one after it
// when the session was stopped before it connected.
struct SessionClosed {
  SessionId session = 0;
  CloseReason how = CloseReason::kBothFinished;
  // The failed step and the system's reason ("recv", "send", "thread",
  // "memory", "log", "connect", ...); ok() for kBothFinished and for a stop
  // from outside.
  Status error;
  // Bytes reported in SessionChunk, each way (counted also for an observer
  // that doesn't want the chunks).
  uint64_t bytes_up = 0;                 // client to server
  uint64_t bytes_down = 0;               // server to client
  std::chrono::nanoseconds duration{0};  // from SessionOpened
  EventTime time;
  ForwardNumber forward = 0;  // see ForwardNumber
};

// Receives what happens to the sessions of a listener run, on the thread
// where it happens: a session's connector thread (opened, connected or
// connect failed) or one of its relay threads (chunks, half-closes, what a
// condition did; closed comes from whichever thread lets go of the session
// last). Calls for different sessions, and for the two directions of one session, come at
// the same time from different threads; the chunks of one direction come in
// relay order from one thread at a time. An implementation is quick (a copy,
// a queue) and never fails the relay: it must not block for long, throw, or
// touch the session's sockets.
//
// Attached per listener run (shared with every session of the run, which
// keeps it alive until its last event). Default implementations ignore the
// event.
class SessionObserver {
 public:
  virtual ~SessionObserver() = default;

  // Whether OnChunk is wanted. When no observer wants the bytes (and no log
  // sink needs them), a direction may be relayed without them passing
  // through user space. Read once per session, when it connects.
  virtual bool WantsChunks() const { return true; }

  virtual void OnOpened(const SessionOpened&) {}
  virtual void OnConnected(const SessionConnected&) {}
  virtual void OnConnectFailed(const SessionConnectFailed&) {}
  virtual void OnChunk(const SessionChunk&) {}
  virtual void OnHalfClosed(const SessionHalfClosed&) {}
  virtual void OnConditionActed(const SessionConditionActed&) {}
  virtual void OnClosed(const SessionClosed&) {}
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_SESSION_OBSERVER_H_

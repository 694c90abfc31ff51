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

// A client was accepted.
struct SessionOpened {
  SessionId session = 0;
  Endpoint client;    // the client's address and port
  Endpoint listener;  // the local address and port it connected to
  EventTime time;
};

// The outgoing connection is up.
struct SessionConnected {
  SessionId session = 0;
  Endpoint destination;              // the address actually connected to, and its port
  Endpoint local;                    // the outgoing socket's own address and port
  std::chrono::nanoseconds took{0};  // from SessionOpened to now
  EventTime time;
};

// The outgoing connection could not be made; the session ends (its client is
// reset) and SessionClosed follows.
struct SessionConnectFailed {
  SessionId session = 0;
  std::string host;  // the destination as configured
  uint16_t port = 0;
  // step() is "resolve", "socket" or "connect"; reason() the system's text.
  Status status;
  EventTime time;
};

// Bytes relayed in one direction, exactly as sent on (zero bytes included;
// nothing appended). `data` is valid only during the call.
struct SessionChunk {
  SessionId session = 0;
  Direction direction = Direction::kClientToServer;
  EventTime time;  // when the bytes were received
  const char* data = nullptr;
  size_t size = 0;
};

// One direction ended with a FIN, passed on to the other side; the other
// direction goes on.
struct SessionHalfClosed {
  SessionId session = 0;
  Direction direction = Direction::kClientToServer;
  EventTime time;
};

enum class CloseReason : uint8_t {
  kBothFinished,   // both directions ended with a FIN
  kResetByClient,  // the client reset its connection (or failed)
  kResetByServer,  // the destination reset its connection (or failed)
  kSendError,      // sending on failed
  kStopped,        // forwarding was stopped, or the log sink released
  kConnectFailed,  // the outgoing connection was never made
};

// The session is over and both sockets are closed or about to be. The last
// event of every session that had SessionOpened.
struct SessionClosed {
  SessionId session = 0;
  CloseReason how = CloseReason::kBothFinished;
  uint64_t bytes_up = 0;                 // client to server
  uint64_t bytes_down = 0;               // server to client
  std::chrono::nanoseconds duration{0};  // from SessionOpened
  EventTime time;
};

// Receives what happens to the sessions of a listener run, on the thread
// where it happens: the accept thread, a connector or a relay thread. Calls
// for different sessions, and for the two directions of one session, come at
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
  virtual void OnClosed(const SessionClosed&) {}
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_SESSION_OBSERVER_H_

#ifndef PORTWICK_ENGINE_SESSION_H_
#define PORTWICK_ENGINE_SESSION_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "base/endpoint.h"
#include "base/mutex.h"
#include "base/status.h"
#include "engine/conditions/live_conditions.h"
#include "engine/conditions/shaper.h"
#include "engine/session_observer.h"
#include "engine/socket.h"
#include "engine/socket_layer.h"

namespace portwick {

// Who a session is and what it has seen so far: its number in the listener
// run, when it was accepted and the observer of the run (may be null).
struct SessionIdentity {
  SessionId id = 0;
  Endpoint client;    // the client's address and port
  Endpoint listener;  // the local address and port the client connected to
  EventTime opened = EventTime::Now();
  std::shared_ptr<SessionObserver> observer;
  // The traffic conditions drawn for this session (none: both empty), and
  // the seed of their draw and jitter.
  SessionConditions conditions;
  uint64_t seed = 0;
  // No bytes either way for this long ends the session (0: never).
  std::chrono::milliseconds idle_timeout{0};
  // Held for the session's whole life; a listener with a session cap counts
  // the sessions whose slots are still held.
  std::shared_ptr<void> slot;
  // The forward's conditions as they change (null: they never do), and the
  // generation `conditions` were drawn from; the relays follow it.
  std::shared_ptr<const LiveConditions> live_conditions = nullptr;
  uint64_t conditions_generation = 0;
};

// The two connections of one session: the accepted client socket and the
// outgoing socket to the destination. The connector and then the two relay
// pumps share it through std::shared_ptr; whoever drops the last reference
// closes both sockets, so each is closed exactly once and only when no
// thread can use it any more.
//
// The session is registered with its socket layer for its whole life, so the
// layer's last Cleanup resets it.
//
// It also keeps how the session ends: the first failure recorded wins (a
// failure found after the session was cancelled from outside, by the layer's
// last Cleanup, counts as kStopped), both directions passing their
// half-close on count as kBothFinished, and the destructor reports SessionClosed
// to the observer, exactly once and after every other event of the session.
//
// Thread safety: every method may be called from any thread, except
// SetDestination and SetConnected (the connector's thread, before the relay
// pumps exist).
class Session {
 public:
  // Takes ownership of the client socket and keeps `layer` (not null) alive.
  // The outgoing socket comes with SetDestination.
  Session(std::shared_ptr<SocketLayer> layer, Socket client, SessionIdentity identity);
  // Both sockets at once, without identity or observer; `layer` must
  // outlive the session.
  Session(SocketLayer* layer, Socket client, Socket destination);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  // Reports SessionClosed to the observer (if any), then closes both sockets.
  ~Session();

  SocketHandle client_fd() const { return client_.fd(); }
  SocketHandle destination_fd() const { return destination_.fd(); }

  // Replaces the outgoing socket (one per address tried), closing the old
  // one. A socket given to a cancelled session is reset at once.
  void SetDestination(Socket destination);

  // The destination actually connected to and the outgoing socket's own
  // address; both 0.0.0.0:0 until connected.
  void SetConnected(const Endpoint& destination, const Endpoint& local) {
    destination_endpoint_ = destination;
    local_endpoint_ = local;
  }
  const Endpoint& destination_endpoint() const { return destination_endpoint_; }
  const Endpoint& local_endpoint() const { return local_endpoint_; }

  // Ends the session at once: both connections are reset (each peer sees a
  // reset) and threads blocked on either socket wake. Idempotent.
  void Reset() { registration_.Cancel(); }

  // True after Reset, after the layer's last Cleanup, or when the layer had
  // no reference when the session was made.
  bool cancelled() const { return registration_.cancelled(); }

  // Passes a half-close on: the peer on `fd` (one of the two sockets) reads
  // end-of-stream once it has everything sent before. Called once per
  // direction; once both have, the session closes as kBothFinished, even
  // when a reset from outside comes before it is released.
  void EndSending(SocketHandle fd);

  // Whether the end of stream read from `fd` (one of the two sockets) came
  // from a reset rather than a FIN. A reset is reported as an error to one
  // reader only: when the other direction, sending towards the same peer,
  // met it first, this direction reads end-of-stream, which must not be
  // passed on as a half-close. The socket then shows the closed TCP state,
  // which after a FIN it reaches only once this side passed its own end on.
  bool EndWasReset(SocketHandle fd) const;

  // Notes how the session ends, unless an earlier end was noted.
  void RecordEnding(CloseReason how, const Status& error) LOCKS_EXCLUDED(mutex_);
  // RecordEnding, then Reset.
  void Fail(CloseReason how, const Status& error) {
    RecordEnding(how, error);
    Reset();
  }

  // Ends the session quietly: notes `how`, then both directions read
  // end-of-stream, so each passes a FIN on and the session closes.
  void EndBoth(CloseReason how, const Status& error);

  // Notes that bytes came now (either way), and whether the session has
  // been idle for its time-out (false without one).
  void NoteActivity();
  bool IdleTimedOut() const;

  // Counts bytes relayed in one direction, for SessionClosed. Called by each
  // direction's pump once, when it ends.
  void AddRelayed(Direction direction, uint64_t bytes);

  const SessionIdentity& identity() const { return identity_; }
  SessionId id() const { return identity_.id; }
  SessionObserver* observer() const { return identity_.observer.get(); }

 private:
  const SessionIdentity identity_;
  const std::shared_ptr<SocketLayer> layer_;  // null when borrowed
  Endpoint destination_endpoint_;
  Endpoint local_endpoint_;
  Socket client_;
  Socket destination_;
  // Declared after the sockets, so it unregisters before they close.
  SocketLayer::Registration registration_;

  std::atomic<uint64_t> relayed_[2] = {0, 0};
  std::atomic<int64_t> last_activity_;  // steady clock, nanoseconds
  std::atomic<int> finished_directions_{0};
  // EndSending was called for the client (0) or destination (1) socket.
  std::atomic<bool> sending_ended_[2] = {false, false};
  Mutex mutex_;
  bool ending_recorded_ GUARDED_BY(mutex_) = false;
  CloseReason how_ GUARDED_BY(mutex_) = CloseReason::kBothFinished;
  Status error_ GUARDED_BY(mutex_);
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_SESSION_H_

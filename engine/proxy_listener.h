#ifndef PORTWICK_ENGINE_PROXY_LISTENER_H_
#define PORTWICK_ENGINE_PROXY_LISTENER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/endpoint.h"
#include "base/status.h"
#include "engine/conditions/condition.h"
#include "engine/conditions/live_conditions.h"
#include "engine/conditions/session_limits.h"
#include "engine/log_sink_handle.h"
#include "engine/name_resolver.h"
#include "engine/session_observer.h"
#include "engine/socket_io.h"

namespace portwick {

// What one listener run listens on, where it forwards to, and who hears
// about it.
struct ListenerConfig {
  // The address and port to listen on: every IPv4 interface by default;
  // "::" listens on every IPv6 and IPv4 interface; port 0 lets the system
  // choose.
  Endpoint bind = Endpoint::AnyIPv4(0);
  // The destination as the user gave it: a name, a dotted IPv4 address or an
  // IPv6 literal (with or without brackets); "" is this machine.
  std::string destination_host;
  uint16_t destination_port = 0;
  // The sink every session of the run writes to; null passes bytes unlogged.
  std::shared_ptr<LogSinkHandle> log_sink;
  // Told about every session of the run; may be null.
  std::shared_ptr<SessionObserver> observer;
  // Traffic conditions on the run's sessions, drawn per session (see
  // SetConditions for changing them while the run goes on); and the limits
  // on them.
  std::vector<Condition> conditions;
  SessionLimits limits;

  // Seams for tests; each must outlive every session of the run.
  SocketIo* io = &SocketIo::Default();
  NameResolver* resolver = &NameResolver::Default();
};

// Listens on one local TCP endpoint (backlog SOMAXCONN) and starts a session
// for every accepted client, relaying it to the destination host and port.
// A client is accepted only once the socket for its outgoing connection is
// made: at the descriptor limit new connections wait in the listen queue
// (the limit is noted with descriptor_limit::NoteReached, and the accept
// thread tries again every few milliseconds) instead of being accepted and
// then reset for want of a descriptor. With a session cap (max_sessions)
// they wait there the same way while the run has that many sessions.
// Sessions are numbered 1, 2, 3 ... per run (from Start to Stop). Each run
// keeps the registry of its own sessions, so its Stop resets exactly those,
// whatever other listeners in the process do.
//
// Thread safety: construction, Start, Stop, IsRunning, SetLogSink,
// SetConditions, the accessors and destruction are called from one owner
// thread. The accept thread never touches the listener after it has been
// destroyed.
class ProxyListener {
 public:
  ProxyListener();
  ProxyListener(const ProxyListener&) = delete;
  ProxyListener& operator=(const ProxyListener&) = delete;
  // Stops (see Stop).
  virtual ~ProxyListener();

  // The sink every session accepted from now on writes to (may be null: bytes
  // pass unlogged). Read once per accepted connection. Start(config) sets it
  // from the config.
  void SetLogSink(std::shared_ptr<LogSinkHandle> log_sink);

  // Opens the listening socket and starts the accept thread. Fails (and
  // changes nothing) while running, or when the socket can't be created,
  // bound or put in listening mode, or the thread started; the status names
  // the step ("start", "socket", "bind", "listen", "thread") and the system's
  // reason (for example "Address already in use").
  Status Start(const ListenerConfig& config);

  // The same on every IPv4 interface and the low 16 bits of `local_port`
  // and `destination_port`, with the sink set by SetLogSink and no observer.
  // `error` gets Status::Message() on failure.
  bool Start(int local_port, const std::string& destination_host, int destination_port,
             std::string* error = nullptr);

  // Stops accepting, resets every open session of this run on both sides
  // and fails its connectors still resolving or connecting.
  void Stop();

  // Replaces the traffic conditions of the current run: sessions accepted
  // from now on draw from `conditions`, and open sessions follow them from
  // their next chunk (see LiveConditions). The next Start takes its config's
  // conditions again. Before the first Start it does nothing.
  void SetConditions(std::vector<Condition> conditions);

  bool IsRunning() const;

  // The port actually listened on (useful when Start was given port 0);
  // 0 when not running.
  int BoundPort() const;
  // The endpoint actually listened on; 0.0.0.0:0 when not running.
  Endpoint BoundEndpoint() const;

  // Sessions of the current (or last) run that still hold their sockets.
  int SessionCount() const;

 private:
  struct State;
  std::shared_ptr<State> state_;  // shared with the accept thread
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_PROXY_LISTENER_H_

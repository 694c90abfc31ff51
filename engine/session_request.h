#ifndef PORTWICK_ENGINE_SESSION_REQUEST_H_
#define PORTWICK_ENGINE_SESSION_REQUEST_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/conditions/live_conditions.h"
#include "engine/detached_thread.h"
#include "engine/log_sink_handle.h"
#include "engine/name_resolver.h"
#include "engine/session.h"
#include "engine/socket.h"
#include "engine/socket_io.h"
#include "engine/socket_layer.h"

namespace portwick {

// Everything one session needs, taken from the listener at the moment of the
// accept. The accept thread fills it and hands it to a connector thread,
// which owns it from then on. Since it carries its own copies, a later Start
// with other settings doesn't affect sessions already accepted.
struct SessionRequest {
  // With TCP_NODELAY set (the listener's sockets inherit it from the
  // listening socket).
  Socket accepted_socket;
  // An IPv4 TCP socket made before the accept, so the session has a
  // descriptor for its outgoing connection even at the descriptor limit
  // (used as it is for an IPv4 destination, closed to make room for an IPv6
  // one). May be invalid: the connector then makes its socket itself.
  // Non-blocking where the event relay takes the session
  // (event_relay::TakesSessions).
  Socket reserved_socket;
  // The number, client, accept time and observer; the connector fills in
  // the listening endpoint.
  SessionIdentity identity;
  uint16_t destination_port = 0;
  std::string destination_host;
  std::shared_ptr<LogSinkHandle> log_sink;  // may be null
  // The conditions of the forward, drawn for the session by its connector
  // (with identity.seed) and followed by its relays as they change; null:
  // none, ever.
  std::shared_ptr<const LiveConditions> conditions;
  // The most one connect may take; 0: the system's.
  std::chrono::milliseconds connect_timeout{0};

  // The layer of the listener run; keeps it alive for the session. Required.
  std::shared_ptr<SocketLayer> layer;
  // The services the session runs on; each must outlive the session.
  ThreadStarter* threads = &ThreadStarter::Default();
  SocketIo* io = &SocketIo::Default();
  NameResolver* resolver = &NameResolver::Default();
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_SESSION_REQUEST_H_

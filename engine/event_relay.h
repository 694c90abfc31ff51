#ifndef PORTWICK_ENGINE_EVENT_RELAY_H_
#define PORTWICK_ENGINE_EVENT_RELAY_H_

#include <memory>
#include <string>

#include "base/socket_handle.h"
#include "engine/name_resolver.h"
#include "engine/session.h"
#include "engine/session_request.h"
#include "engine/session_start.h"
#include "engine/socket_io.h"

// The event relay: one epoll thread that relays the directions whose bytes
// nobody needs (the pass-through framer, no log sink or observer needing
// them, no traffic conditions) for many sessions at once, and completes the
// non-blocking connects the accept thread starts, so a short unlogged
// session takes no thread of its own. A direction it relays that turns busy
// with bulk, or gains traffic conditions, is handed to a blocking RelayPump
// on a thread of its own, its pending bytes first. Built where the platform
// has it (engine/linux/event_relay.cc, with PORTWICK_ZERO_COPY); elsewhere
// (engine/event_relay_none.cc) both calls say no and sessions start as
// before.
namespace portwick::event_relay {

// Whether StartSession takes the sessions of a forward to `host` through
// these seams: only where there is an event relay, on the real socket
// calls and resolver, towards an IPv4 address. Any thread.
bool TakesSessions(const std::string& host, const SocketIo* io, const NameResolver* resolver);

// A new IPv4 socket for a session's outgoing connection, or -errno; made
// non-blocking (the connect StartSession begins needs it so) when
// `for_event_relay`. Any thread.
SocketHandle CreateReservedSocket(bool for_event_relay);

// Accept thread. Starts the session of `request` with a non-blocking
// connect to its destination that the event relay completes; then relays
// its directions as RelayConnected does. True when it took the request
// (the session runs, or ended with its events reported); false, leaving
// `request` untouched, when this path doesn't apply (TakesSessions says
// no, the threads are a test's, or there is no reserved socket, which must
// come from CreateReservedSocket(true)). May throw std::bad_alloc.
bool StartSession(std::unique_ptr<SessionRequest>& request);

// Any thread. Relays a connected session: the directions whose bytes nobody
// needs on the event relay, the others on blocking pumps of their own
// threads. False, taking nothing, when no direction qualifies or there is
// no event relay (or no thread for it).
bool RelayConnected(const std::shared_ptr<Session>& session, const RelayNeeds& needs);

}  // namespace portwick::event_relay

#endif  // PORTWICK_ENGINE_EVENT_RELAY_H_

#ifndef PORTWICK_ENGINE_SESSION_CONNECTOR_H_
#define PORTWICK_ENGINE_SESSION_CONNECTOR_H_

#include <memory>

#include "engine/session_request.h"

namespace portwick {

// Turns one accepted connection into a running session: resolves the
// destination host, connects to its addresses in turn until one takes the
// connection (a socket for each: the request's reserved one for the first
// IPv4 address, else a new one), hands the session to the event relay when
// it takes it (event_relay.h), else starts the destination-to-client pump
// on a thread of its own and then runs the client-to-destination pump
// itself. When resolving or connecting fails, the client's connection is
// closed without data. When the relay thread can't be started or memory runs
// out, both connections are reset.
//
// The session's observer (if any) hears SessionOpened first, then
// SessionConnected or SessionConnectFailed, from this thread.
//
// Runs on the calling thread; blocks while resolving and connecting, and then
// relays until the client's direction ends.
void RunSessionConnector(std::unique_ptr<SessionRequest> request);

// Runs RunSessionConnector on a new thread started by `request->threads`,
// which owns the request from then on. Returns false when the thread can't be
// started; the request (and its accepted socket) is then destroyed, and no
// event is reported.
bool StartSessionConnector(std::unique_ptr<SessionRequest> request);

}  // namespace portwick

#endif  // PORTWICK_ENGINE_SESSION_CONNECTOR_H_

#ifndef PORTWICK_ENGINE_SESSION_START_H_
#define PORTWICK_ENGINE_SESSION_START_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "base/endpoint.h"
#include "base/status.h"
#include "engine/detached_thread.h"
#include "engine/log_sink_handle.h"
#include "engine/session.h"
#include "engine/session_request.h"
#include "engine/socket_io.h"

// The steps of starting a session that the connector thread and the event
// relay (engine/event_relay.h) share, so both report the same events in the
// same order. Each is called by whichever thread starts the session, one
// after the other; none of them waits.
namespace portwick {

// Where a session connects to, taken from its request.
struct SessionDestination {
  std::string host;
  uint16_t port = 0;
  std::chrono::milliseconds connect_timeout{0};  // 0: the system's
};

// What a session's relays need besides the session, taken from its request.
// The pointers must outlive the session.
struct RelayNeeds {
  std::shared_ptr<LogSinkHandle> log_sink;  // may be null
  ThreadStarter* threads = &ThreadStarter::Default();
  SocketIo* io = &SocketIo::Default();
};

// Makes the session of `request` (its conditions drawn, its listening
// endpoint asked for when an observer will hear it) and reports
// SessionOpened. Moves the destination, the relays' needs and the reserved
// socket out of the request. May throw std::bad_alloc.
std::shared_ptr<Session> OpenSession(SessionRequest& request, SessionDestination* destination,
                                     RelayNeeds* needs, Socket* reserved);

// Notes a connect that failed with `status` as the session's end and
// reports SessionConnectFailed.
void ReportConnectFailed(Session& session, const SessionDestination& destination,
                         const Status& status);

// Notes that the outgoing socket is connected to `address` (its own address
// asked for only when an observer will hear it) and reports
// SessionConnected.
void ReportConnected(Session& session, const Endpoint& address);

// Whether the bytes of `direction` may pass without anyone seeing them: no
// traffic conditions drawn for it, no observer that wants chunks and no log
// sink that needs bytes (the connector's framer always passes through).
bool NobodyNeedsBytes(const Session& session, Direction direction, LogSinkHandle* log_sink);

// Whether a session with these needs may be relayed by the event relay:
// only on the real socket calls and threads (tests that script either keep
// the blocking pumps they script).
bool MayUseEventRelay(const RelayNeeds& needs);

}  // namespace portwick

#endif  // PORTWICK_ENGINE_SESSION_START_H_

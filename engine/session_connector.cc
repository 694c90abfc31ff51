#include "engine/session_connector.h"

#include <cerrno>
#include <chrono>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "engine/descriptor_limit.h"
#include "engine/event_relay.h"
#include "engine/message_framer.h"
#include "engine/relay_pump.h"
#include "engine/session.h"
#include "engine/session_start.h"
#include "engine/socket_ops.h"
#include "engine/zero_copy.h"

namespace portwick {

namespace {

bool StartPump(ThreadStarter* threads, std::unique_ptr<RelayPump> pump) {
  return threads->Start(
      MakeTask([pump = std::move(pump)]() mutable { RelayPump::RunParking(std::move(pump)); }),
      kRelayStackSize);
}

// Connects `fd` within the destination's time-out, if it has one.
Status ConnectWithin(SocketHandle fd, const Endpoint& address,
                     const SessionDestination& destination) {
  const int timeout = static_cast<int>(destination.connect_timeout.count());
  if (timeout != 0) sockets::SetSendTimeout(fd, timeout);
  const int result = sockets::Connect(fd, address);
  if (timeout != 0) sockets::SetSendTimeout(fd, 0);
  if (result == 0) return Status();
  // A blocking connect that ran out of its send time-out says EINPROGRESS.
  if (timeout != 0 && (result == -EINPROGRESS || result == -EAGAIN)) {
    return Status::Error("connect", ETIMEDOUT,
                         "timed out after " + SpokenDuration(destination.connect_timeout));
  }
  return Status::Error("connect", result);
}

// A socket for `family`: the reserved one when it fits, else a new one, for
// which the reserved one makes room when descriptors have run out.
SocketHandle OutgoingSocket(Endpoint::Family family, Socket* reserved) {
  if (reserved->valid() && family == Endpoint::Family::kIPv4) return reserved->Release();
  SocketHandle fd = sockets::CreateTcpSocket(family);
  if (fd == -EMFILE || fd == -ENFILE) {
    reserved->Reset();
    // Kept pipes hold descriptors that this session needs more.
    zero_copy::ReleaseIdlePipes();
    fd = sockets::CreateTcpSocket(family);
  }
  if (fd == -EMFILE || fd == -ENFILE) descriptor_limit::NoteReached(sockets::ErrorOf(fd));
  reserved->Reset();
  return fd;
}

// Connects the session's outgoing socket to the first address of the
// destination that takes the connection. False when the session must end;
// it has then noted why (a connect failure is also reported).
bool ConnectDestination(Session& session, const SessionDestination& destination,
                        NameResolver* resolver, Socket reserved) {
  if (session.cancelled()) return false;
  std::vector<Endpoint> addresses;
  Status status = resolver->Resolve(destination.host, destination.port, &addresses);
  for (const Endpoint& address : addresses) {
    // The layer's last Cleanup may have come while resolving, which it
    // can't interrupt; and a reset just before connect began doesn't stop it.
    if (session.cancelled()) return false;
    // The socket of the address tried before goes first: at the limit its
    // descriptor is the one the next socket gets.
    session.SetDestination(Socket());
    const SocketHandle fd = OutgoingSocket(address.family(), &reserved);
    if (fd < 0) {
      status = Status::Error("socket", -sockets::ErrorOf(fd));
      continue;
    }
    session.SetDestination(Socket(fd));
    const Status connected = ConnectWithin(fd, address, destination);
    if (session.cancelled()) return false;
    if (connected.ok()) {
      ReportConnected(session, address);
      return true;
    }
    status = connected;
  }
  if (session.cancelled()) return false;
  if (status.ok()) status = Status::Error(Status::Kind::kResolve, "resolve", 0, "no address");
  ReportConnectFailed(session, destination, status);
  return false;
}

void Connect(std::unique_ptr<SessionRequest> request) {
  SessionDestination destination;
  RelayNeeds needs;
  Socket reserved;
  NameResolver* resolver = request->resolver;
  std::shared_ptr<Session> session = OpenSession(*request, &destination, &needs, &reserved);
  request.reset();
  // On failure the session goes here, which closes both sockets and reports
  // how it ended.
  if (!ConnectDestination(*session, destination, resolver, std::move(reserved))) return;

  // A forwarder must not add Nagle delay to what it relays (the accepted
  // socket has it from the listening socket).
  sockets::SetNoDelay(session->destination_fd());

  // Where there is an event relay, it takes the session and relays there
  // the directions whose bytes nobody needs; the others get blocking pumps.
  if (MayUseEventRelay(needs) && event_relay::RelayConnected(session, needs)) return;

  std::unique_ptr<RelayPump> upstream;
  try {
    upstream = std::make_unique<RelayPump>(session, Direction::kClientToServer,
                                           std::make_unique<PassThroughFramer>(), needs.log_sink,
                                           needs.io);
    auto downstream = std::make_unique<RelayPump>(session, Direction::kServerToClient,
                                                  std::make_unique<PassThroughFramer>(),
                                                  needs.log_sink, needs.io);
    if (!StartPump(needs.threads, std::move(downstream))) {
      session->Fail(CloseReason::kStopped, Status::Error("thread", EAGAIN));
      return;
    }
  } catch (const std::bad_alloc&) {
    session->Fail(CloseReason::kStopped, Status());
    return;
  }
  // The connector's own thread relays the client's direction, so a session
  // starts one thread, not two.
  session.reset();
  RelayPump::RunParking(std::move(upstream));
}

}  // namespace

void RunSessionConnector(std::unique_ptr<SessionRequest> request) {
  try {
    Connect(std::move(request));
  } catch (const std::bad_alloc&) {
    // Whatever was built so far has been released, its sockets closed.
  }
}

bool StartSessionConnector(std::unique_ptr<SessionRequest> request) {
  ThreadStarter* threads = request->threads;
  try {
    return threads->Start(MakeTask([request = std::move(request)]() mutable {
                            RunSessionConnector(std::move(request));
                          }),
                          kConnectorStackSize);
  } catch (const std::bad_alloc&) {
    return false;  // the request went with the half-built task
  }
}

}  // namespace portwick

namespace portwick {

std::shared_ptr<Session> OpenSession(SessionRequest& request, SessionDestination* destination,
                                     RelayNeeds* needs, Socket* reserved) {
  SessionIdentity identity = std::move(request.identity);
  *destination = SessionDestination{std::move(request.destination_host), request.destination_port,
                                    request.connect_timeout};
  if (request.conditions != nullptr) {
    const std::shared_ptr<const std::vector<Condition>> current =
        request.conditions->Current(&identity.conditions_generation);
    // None drawn from none: the draw (a random engine seeded per session)
    // is skipped.
    if (!current->empty()) identity.conditions = DrawForSession(*current, identity.seed);
    identity.live_conditions = std::move(request.conditions);
  }
  *needs = RelayNeeds{std::move(request.log_sink), request.threads, request.io};
  *reserved = std::move(request.reserved_socket);
  // Only an observer hears where the client connected to.
  if (identity.observer != nullptr) {
    sockets::LocalEndpoint(request.accepted_socket.fd(), &identity.listener);
  }
  auto session = std::make_shared<Session>(std::move(request.layer),
                                           std::move(request.accepted_socket), std::move(identity));
  if (SessionObserver* observer = session->observer()) {
    const SessionIdentity& opened = session->identity();
    observer->OnOpened(SessionOpened{opened.id, opened.client, opened.listener, opened.opened});
  }
  return session;
}

void ReportConnectFailed(Session& session, const SessionDestination& destination,
                         const Status& status) {
  session.RecordEnding(CloseReason::kConnectFailed, status);
  SessionObserver* observer = session.observer();
  if (observer == nullptr) return;
  SessionConnectFailed failed;
  failed.session = session.id();
  failed.host = destination.host;
  failed.port = destination.port;
  failed.status = status;
  failed.time = EventTime::Now();
  observer->OnConnectFailed(failed);
}

void ReportConnected(Session& session, const Endpoint& address) {
  SessionObserver* observer = session.observer();
  Endpoint local;
  if (observer != nullptr) sockets::LocalEndpoint(session.destination_fd(), &local);
  session.SetConnected(address, local);
  if (observer == nullptr) return;
  SessionConnected connected;
  connected.session = session.id();
  connected.destination = session.destination_endpoint();
  connected.local = session.local_endpoint();
  connected.time = EventTime::Now();
  connected.took = std::chrono::duration_cast<std::chrono::nanoseconds>(
      connected.time.monotonic - session.identity().opened.monotonic);
  observer->OnConnected(connected);
}

bool NobodyNeedsBytes(const Session& session, Direction direction, LogSinkHandle* log_sink) {
  const SessionConditions& drawn = session.identity().conditions;
  const DirectionConditions& conditions =
      direction == Direction::kClientToServer ? drawn.up : drawn.down;
  const SessionObserver* observer = session.observer();
  return conditions.empty() && (observer == nullptr || !observer->WantsChunks()) &&
         (log_sink == nullptr || !log_sink->NeedsBytes());
}

bool MayUseEventRelay(const RelayNeeds& needs) {
  return needs.io == &SocketIo::Default() && needs.threads == &ThreadStarter::Default();
}

}  // namespace portwick

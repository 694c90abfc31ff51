#include "engine/session_connector.h"

#include <new>
#include <utility>

#include "engine/message_framer.h"
#include "engine/relay_pump.h"
#include "engine/session.h"
#include "engine/socket_ops.h"

namespace portwick {

namespace {

bool StartPump(ThreadStarter* threads, std::unique_ptr<RelayPump> pump) {
  return threads->Start(MakeTask([pump = std::move(pump)] { pump->Run(); }), kRelayStackSize);
}

// Connects the session's outgoing socket; false when the session must end.
bool ConnectDestination(Session& session, const std::string& host, int port) {
  if (session.cancelled()) return false;
  in_addr_t address = 0;
  if (!sockets::ResolveIPv4(host, &address)) return false;
  // The layer's last Cleanup may have come while resolving, which it can't
  // interrupt; and a reset just before connect began doesn't stop it.
  if (session.cancelled()) return false;
  if (sockets::Connect(session.destination_fd(), address, port) != 0) return false;
  return !session.cancelled();
}

void Connect(std::unique_ptr<SessionRequest> request) {
  Socket client = std::move(request->accepted_socket);
  const int port = request->destination_port;
  const std::string host = std::move(request->destination_host);
  std::shared_ptr<LogSinkHandle> log_sink = std::move(request->log_sink);
  SocketLayer* layer = request->layer;
  ThreadStarter* threads = request->threads;
  SocketIo* io = request->io;
  request.reset();

  const int outgoing = sockets::CreateTcpSocket();
  if (outgoing < 0) return;  // closes the client
  auto session = std::make_shared<Session>(layer, std::move(client), Socket(outgoing));
  if (!ConnectDestination(*session, host, port)) return;  // closes both sockets

  // A forwarder must not add Nagle delay to what it relays.
  sockets::SetNoDelay(session->client_fd());
  sockets::SetNoDelay(session->destination_fd());

  std::unique_ptr<RelayPump> upstream;
  try {
    upstream = std::make_unique<RelayPump>(session, session->client_fd(), session->destination_fd(),
                                           std::make_unique<PassThroughFramer>(), log_sink, io);
    auto downstream =
        std::make_unique<RelayPump>(session, session->destination_fd(), session->client_fd(),
                                    std::make_unique<PassThroughFramer>(), log_sink, io);
    if (!StartPump(threads, std::move(downstream))) {
      session->Reset();
      return;
    }
  } catch (const std::bad_alloc&) {
    session->Reset();
    return;
  }
  // The connector's own thread relays the client's direction, so a session
  // starts one thread, not two.
  session.reset();
  upstream->Run();
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

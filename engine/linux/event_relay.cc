// The event relay's entry points on Linux (engine/event_relay.h): the
// accept thread's non-blocking connect, and connected sessions handed to the
// event loop.
#include "engine/event_relay.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "base/posix/sockaddr.h"
#include "base/posix/socket_descriptor.h"
#include "engine/linux/event_loop.h"
#include "engine/linux/loop_session.h"

namespace portwick::event_relay {

namespace {

// Starts the connect of the non-blocking `fd` to `address`: 0 when it is
// under way or done, else -errno.
int StartConnect(SocketHandle fd, const Endpoint& address) {
  sockaddr_storage storage;
  const socklen_t length = ToSockaddr(address, &storage);
  if (::connect(Descriptor(fd), reinterpret_cast<const sockaddr*>(&storage), length) == 0) return 0;
  return errno == EINPROGRESS || errno == EINTR ? 0 : -errno;
}

std::optional<Endpoint> IPv4Address(const std::string& host, uint16_t port) {
  in_addr ipv4{};
  if (::inet_pton(AF_INET, host.c_str(), &ipv4) != 1) return std::nullopt;
  return Endpoint::FromBytes(Endpoint::Family::kIPv4, reinterpret_cast<const uint8_t*>(&ipv4),
                             port);
}

}  // namespace

bool TakesSessions(const std::string& host, const SocketIo* io, const NameResolver* resolver) {
  return io == &SocketIo::Default() && resolver == &NameResolver::Default() &&
         IPv4Address(host, 0).has_value();
}

SocketHandle CreateReservedSocket(bool for_event_relay) {
  const int flags = SOCK_STREAM | SOCK_CLOEXEC | (for_event_relay ? SOCK_NONBLOCK : 0);
  const int fd = ::socket(AF_INET, flags, IPPROTO_TCP);
  return fd >= 0 ? fd : -errno;
}

bool StartSession(std::unique_ptr<SessionRequest>& request) {
  if (!TakesSessions(request->destination_host, request->io, request->resolver) ||
      request->threads != &ThreadStarter::Default() || !request->reserved_socket.valid()) {
    return false;
  }
  const Endpoint address = *IPv4Address(request->destination_host, request->destination_port);

  SessionDestination destination;
  RelayNeeds needs;
  Socket reserved;
  std::shared_ptr<Session> session = OpenSession(*request, &destination, &needs, &reserved);
  request.reset();
  // A session cancelled already (its run stopped) ends here, closing both.
  if (session->cancelled()) return true;
  session->SetDestination(std::move(reserved));
  const int started = StartConnect(session->destination_fd(), address);
  if (started < 0) {
    if (!session->cancelled()) {
      ReportConnectFailed(*session, destination, Status::Error("connect", started));
    }
    return true;
  }
  std::optional<LoopSession::Clock::time_point> deadline;
  if (destination.connect_timeout.count() != 0) {
    deadline = LoopSession::Clock::now() + destination.connect_timeout;
  }
  auto connecting = std::make_unique<LoopSession>(session, std::move(needs), std::move(destination),
                                                  address, deadline);
  if (!EventLoop::ForNextSession().Adopt(connecting)) {
    session->Fail(CloseReason::kStopped, Status::Error("thread", EAGAIN));
  }
  return true;
}

bool RelayConnected(const std::shared_ptr<Session>& session, const RelayNeeds& needs) {
  const bool any_free =
      NobodyNeedsBytes(*session, Direction::kClientToServer, needs.log_sink.get()) ||
      NobodyNeedsBytes(*session, Direction::kServerToClient, needs.log_sink.get());
  if (!any_free) return false;
  auto connected = std::make_unique<LoopSession>(session, needs);
  return EventLoop::ForNextSession().Adopt(connected);
}

}  // namespace portwick::event_relay

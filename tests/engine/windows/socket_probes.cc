#include "socket_probes.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// After Winsock.
#include <iphlpapi.h>

#include <cerrno>
#include <vector>

#include "base/windows/sockaddr.h"

namespace portwick::testing {

namespace {

SOCKET Native(SocketHandle fd) { return static_cast<SOCKET>(fd); }

int PollOne(SocketHandle fd, short events, int milliseconds) {
  WSAPOLLFD p{Native(fd), events, 0};
  const int rc = ::WSAPoll(&p, 1, milliseconds);
  return rc == SOCKET_ERROR ? -EIO : rc;
}

}  // namespace

int WaitReadableFor(SocketHandle fd, int milliseconds) {
  return PollOne(fd, POLLRDNORM, milliseconds);
}

int WaitWritableFor(SocketHandle fd, int milliseconds) {
  return PollOne(fd, POLLWRNORM, milliseconds);
}

bool StartConnect(SocketHandle fd, const Endpoint& endpoint) {
  sockaddr_storage sa;
  const int length = ToSockaddr(endpoint, &sa);
  u_long non_blocking = 1;
  ::ioctlsocket(Native(fd), FIONBIO, &non_blocking);
  return ::connect(Native(fd), reinterpret_cast<const sockaddr*>(&sa), length) == 0 ||
         ::WSAGetLastError() == WSAEWOULDBLOCK;
}

void SetBlocking(SocketHandle fd) {
  u_long non_blocking = 0;
  ::ioctlsocket(Native(fd), FIONBIO, &non_blocking);
}

bool EndOfStreamIsReadable(SocketHandle fd) {
  // No "don't wait" flag for one call: ask whether the receive would
  // return at once first.
  char byte;
  return PollOne(fd, POLLRDNORM, 0) > 0 && ::recv(Native(fd), &byte, 1, MSG_PEEK) == 0;
}

bool SocketIsOpen(SocketHandle fd) {
  int type = 0;
  int length = sizeof type;
  return ::getsockopt(Native(fd), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) ==
         0;
}

std::optional<bool> NoDelayIsSet(SocketHandle fd) {
  int no_delay = 0;
  int length = sizeof no_delay;
  if (::getsockopt(Native(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&no_delay),
                   &length) != 0) {
    return std::nullopt;
  }
  return no_delay != 0;
}

std::vector<SocketHandle> OpenSockets() {
  // Windows has no list of a process's sockets; handles are small multiples
  // of four, so the low ones are tried in turn.
  std::vector<SocketHandle> found;
  for (SocketHandle handle = 4; handle < (1 << 16); handle += 4) {
    if (SocketIsOpen(handle)) found.push_back(handle);
  }
  return found;
}

std::optional<Endpoint> OtherLocalIPv4() {
  ULONG size = 16 * 1024;
  std::vector<char> buffer;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    rc = ::GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr,
                                reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (rc != NO_ERROR) return std::nullopt;
  for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
    for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u; u = u->Next) {
      std::optional<Endpoint> endpoint =
          FromSockaddr(u->Address.lpSockaddr, u->Address.iSockaddrLength);
      if (endpoint && endpoint->address_bytes()[0] != 127 && !endpoint->IsAny()) return endpoint;
    }
  }
  return std::nullopt;
}

bool EndWasAReset(SocketHandle fd) {
  WSAPOLLFD p{Native(fd), 0, 0};
  return ::WSAPoll(&p, 1, 0) > 0 && (p.revents & POLLERR) != 0;
}

}  // namespace portwick::testing

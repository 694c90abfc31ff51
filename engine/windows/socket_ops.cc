// The engine's socket calls over Winsock 2.2. Sockets are blocking and not
// inherited by child processes; failures come back as negated errno values
// (base/windows/winsock_errors.h), so the engine reads them as it does on
// POSIX. Winsock needs no SIGPIPE handling: a send to a peer that has gone
// fails with an error.
#include "engine/socket_ops.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <optional>

#include "base/windows/sockaddr.h"
#include "base/windows/winsock_errors.h"

namespace portwick::sockets {

namespace {

SOCKET Native(SocketHandle fd) { return static_cast<SOCKET>(fd); }

int LastError() { return -ErrnoFromWinsock(WSAGetLastError()); }

int ResultOf(int rc) { return rc == SOCKET_ERROR ? LastError() : rc; }

int SetIntOption(SocketHandle fd, int level, int name, int value) {
  return ResultOf(
      ::setsockopt(Native(fd), level, name, reinterpret_cast<const char*>(&value), sizeof value));
}

// Winsock takes at most INT_MAX bytes per call.
int Clamp(size_t length) { return static_cast<int>(std::min<size_t>(length, INT_MAX)); }

using NameCall = int(WSAAPI*)(SOCKET, sockaddr*, int*);

int EndpointOf(NameCall call, SocketHandle fd, Endpoint* endpoint) {
  sockaddr_storage storage{};
  int length = sizeof storage;
  if (call(Native(fd), reinterpret_cast<sockaddr*>(&storage), &length) == SOCKET_ERROR) {
    return LastError();
  }
  std::optional<Endpoint> parsed =
      FromSockaddr(reinterpret_cast<const sockaddr*>(&storage), length);
  if (!parsed) return -EAFNOSUPPORT;
  *endpoint = *parsed;
  return 0;
}

Status ResolveError(int rc) {
  const int error_number = ErrnoFromWinsock(rc);
  return Status::Error(Status::Kind::kResolve, "resolve", error_number,
                       WinsockMessage(rc).empty() ? "name not found" : WinsockMessage(rc));
}

SocketHandle Made(SOCKET s) {
  if (s == INVALID_SOCKET) return LastError();
  // Not inherited by programs the user's scripts start.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<SocketHandle>(s);
}

}  // namespace

const int kMaxBacklog = SOMAXCONN;

AcceptFailure ClassifyAcceptError(int error) {
  switch (error) {
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return AcceptFailure::kRetryLater;
    case ECONNABORTED:
    case ECONNRESET:
    case EAGAIN:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ETIMEDOUT:
      return AcceptFailure::kSkip;
    default:  // EINVAL, ENOTSOCK or ECANCELED once the listener is stopped
      return AcceptFailure::kEnd;
  }
}

SocketHandle CreateTcpSocket(Endpoint::Family family) {
  KeepWinsockStarted();
  return Made(::WSASocketW(AddressFamily(family), SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                           WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
}

int SetReuseAddress(SocketHandle fd) {
  // Windows' SO_REUSEADDR lets two sockets listen on one port; the exclusive
  // form is what the POSIX option means here.
  return SetIntOption(fd, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1);
}

int SetNoDelay(SocketHandle fd) { return SetIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1); }

int Bind(SocketHandle fd, const Endpoint& endpoint) {
  if (endpoint.family() == Endpoint::Family::kIPv6 && endpoint.IsAny()) {
    const int result = SetIntOption(fd, IPPROTO_IPV6, IPV6_V6ONLY, 0);
    if (result < 0) return result;
  }
  sockaddr_storage storage;
  const int length = ToSockaddr(endpoint, &storage);
  return ResultOf(::bind(Native(fd), reinterpret_cast<const sockaddr*>(&storage), length));
}

int BindLoopback(SocketHandle fd, int port) {
  return Bind(fd, Endpoint::LoopbackIPv4(static_cast<uint16_t>(port & 0xffff)));
}

int Listen(SocketHandle fd, int backlog) { return ResultOf(::listen(Native(fd), backlog)); }

SocketHandle Accept(SocketHandle listen_fd, Endpoint* peer) {
  sockaddr_storage storage{};
  int length = sizeof storage;
  const SOCKET s = ::accept(Native(listen_fd), reinterpret_cast<sockaddr*>(&storage), &length);
  if (s == INVALID_SOCKET) return LastError();
  if (peer != nullptr) {
    *peer = FromSockaddr(reinterpret_cast<const sockaddr*>(&storage), length).value_or(Endpoint());
  }
  return Made(s);
}

int Connect(SocketHandle fd, const Endpoint& endpoint) {
  sockaddr_storage storage;
  const int length = ToSockaddr(endpoint, &storage);
  return ResultOf(::connect(Native(fd), reinterpret_cast<const sockaddr*>(&storage), length));
}

int LocalEndpoint(SocketHandle fd, Endpoint* endpoint) {
  return EndpointOf(&::getsockname, fd, endpoint);
}

int PeerEndpoint(SocketHandle fd, Endpoint* endpoint) {
  return EndpointOf(&::getpeername, fd, endpoint);
}

int LocalPort(SocketHandle fd) {
  Endpoint endpoint;
  const int result = LocalEndpoint(fd, &endpoint);
  return result < 0 ? result : endpoint.port();
}

ssize_t Recv(SocketHandle fd, char* buffer, size_t length) {
  const int n = ::recv(Native(fd), buffer, Clamp(length), 0);
  return n == SOCKET_ERROR ? LastError() : n;
}

ssize_t RecvIfReady(SocketHandle fd, char* buffer, size_t length) {
  // Winsock has no per-call "don't wait": ask whether a byte (or the end)
  // is there first. Only the socket's one reader calls this.
  WSAPOLLFD p{Native(fd), POLLRDNORM, 0};
  const int ready = ::WSAPoll(&p, 1, 0);
  if (ready == SOCKET_ERROR) return LastError();
  if (ready == 0) return -EAGAIN;
  return Recv(fd, buffer, length);
}

ssize_t Send(SocketHandle fd, const char* data, size_t length, bool /*ends_piece*/) {
  // Winsock has no MSG_EOR for TCP: a piece may share a segment.
  const int n = ::send(Native(fd), data, Clamp(length), 0);
  return n == SOCKET_ERROR ? LastError() : n;
}

int SendAll(SocketHandle fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = Send(fd, data, length);
    if (n < 0) return static_cast<int>(n);
    data += n;
    length -= static_cast<size_t>(n);
  }
  return 0;
}

ssize_t Splice(int, int, size_t) { return -ENOSYS; }

namespace {

// WSAPoll for one socket; its time-out is in whole milliseconds, rounded up
// so a wait never ends early.
int PollFor(WSAPOLLFD* p, std::chrono::nanoseconds timeout) {
  int milliseconds = -1;
  if (timeout >= std::chrono::nanoseconds(0)) {
    const auto rounded = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
    milliseconds = static_cast<int>(std::min<long long>(rounded, INT_MAX));
  }
  const int result = ::WSAPoll(p, 1, milliseconds);
  if (result == SOCKET_ERROR) return LastError();
  return result > 0 ? 1 : 0;
}

}  // namespace

int WaitReadable(SocketHandle fd, std::chrono::nanoseconds timeout) {
  WSAPOLLFD p{Native(fd), POLLRDNORM, 0};
  return PollFor(&p, timeout);
}

int SetReceiveTimeout(SocketHandle fd, int milliseconds) {
  const DWORD timeout = static_cast<DWORD>(milliseconds);
  return ResultOf(::setsockopt(Native(fd), SOL_SOCKET, SO_RCVTIMEO,
                               reinterpret_cast<const char*>(&timeout), sizeof timeout));
}

int SetSendTimeout(SocketHandle fd, int milliseconds) {
  // Winsock's send time-out does not bound a blocking connect; the connect
  // time-out then waits as long as the system does (said in the README).
  const DWORD timeout = static_cast<DWORD>(milliseconds);
  return ResultOf(::setsockopt(Native(fd), SOL_SOCKET, SO_SNDTIMEO,
                               reinterpret_cast<const char*>(&timeout), sizeof timeout));
}

int WaitForHangUp(SocketHandle fd, std::chrono::nanoseconds timeout) {
  // No events asked: WSAPoll reports only an error or a hang-up.
  WSAPOLLFD p{Native(fd), 0, 0};
  return PollFor(&p, timeout);
}

int UnsentBytes(SocketHandle) {
  // Winsock does not tell how much of what was sent is unacknowledged;
  // callers then go on at once, as they would once it was all taken.
  return 0;
}

int ShutdownRead(SocketHandle fd) {
  const int result = ResultOf(::shutdown(Native(fd), SD_RECEIVE));
  // As in ShutdownBoth: only a cancel wakes a receive blocked now; it then
  // fails (operation aborted) rather than reading end-of-stream.
  ::CancelIoEx(reinterpret_cast<HANDLE>(Native(fd)), nullptr);
  return result;
}

void BlockSigpipe() {}

void DiscardPendingSigpipe() {}

int ShutdownWrite(SocketHandle fd) { return ResultOf(::shutdown(Native(fd), SD_SEND)); }

int ShutdownBoth(SocketHandle fd) {
  const int result = ResultOf(::shutdown(Native(fd), SD_BOTH));
  // shutdown alone does not wake a thread blocked in accept or recv on
  // every Winsock (Wine's among them); cancelling the socket's pending I/O
  // does, and leaves the socket open for its owner to close.
  ::CancelIoEx(reinterpret_cast<HANDLE>(Native(fd)), nullptr);
  return result;
}

bool IsClosedState(SocketHandle) {
  // Winsock reports a reset on the receive itself (WSAECONNRESET) rather
  // than as an end of stream, so an end that recv shows as 0 bytes was an
  // orderly one.
  return false;
}

void ResetConnection(SocketHandle fd) {
  // Winsock can't abort a connection without closing the socket, and the
  // socket must stay open while another thread may still use it. So: a
  // zero linger, so that the owner's close sends a reset; both directions
  // shut, so that calls made from now on fail at once; and the pending
  // calls cancelled, which is what wakes a thread blocked in recv, send,
  // accept or connect (shutdown alone doesn't, under Wine).
  const linger abort_on_close{1, 0};
  ::setsockopt(Native(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort_on_close),
               sizeof abort_on_close);
  ::shutdown(Native(fd), SD_BOTH);
  ::CancelIoEx(reinterpret_cast<HANDLE>(Native(fd)), nullptr);
}

void Close(SocketHandle fd) {
  if (fd >= 0) ::closesocket(Native(fd));
}

Status Resolve(const std::string& host, uint16_t port, std::vector<Endpoint>* endpoints) {
  KeepWinsockStarted();
  endpoints->clear();
  // A dotted IPv4 address as inet_addr reads it (also "10.1" and the like).
  const unsigned long dotted = ::inet_addr(host.c_str());
  if (!host.empty() && dotted != INADDR_NONE) {
    sockaddr_in in4{};
    in4.sin_family = AF_INET;
    in4.sin_addr.s_addr = dotted;
    in4.sin_port = htons(port);
    endpoints->push_back(*FromSockaddr(reinterpret_cast<const sockaddr*>(&in4), sizeof in4));
    return Status();
  }
  if (host.find(':') != std::string::npos) {
    if (std::optional<Endpoint> literal = Endpoint::ParseAddress(host, port)) {
      endpoints->push_back(*literal);
      return Status();
    }
  }
  if (host.empty()) {
    // This machine: its loopback addresses.
    endpoints->push_back(Endpoint::LoopbackIPv4(port));
    endpoints->push_back(Endpoint::LoopbackIPv6(port));
    return Status();
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
  if (rc != 0) return ResolveError(rc);
  for (const addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_addr == nullptr) continue;
    std::optional<Endpoint> endpoint = FromSockaddr(ai->ai_addr, static_cast<int>(ai->ai_addrlen));
    if (!endpoint) continue;
    endpoint->set_port(port);
    if (std::find(endpoints->begin(), endpoints->end(), *endpoint) == endpoints->end()) {
      endpoints->push_back(*endpoint);
    }
  }
  ::freeaddrinfo(result);
  if (endpoints->empty()) return ResolveError(WSAHOST_NOT_FOUND);
  return Status();
}

std::string ErrorText(int error) { return portwick::ErrorText(error); }

}  // namespace portwick::sockets

// The engine's socket calls over Winsock 2.2. Sockets are not inherited by
// child processes; failures come back as negated errno values
// (base/windows/winsock_errors.h), so the engine reads them as it does on
// POSIX. Winsock needs no SIGPIPE handling: a send to a peer that has gone
// fails with an error.
//
// Calls that wait are overlapped (receive, send, accept) or event-driven
// (connect), and also wait on the socket's SocketState, which the ends
// (ShutdownRead, ShutdownBoth, ResetConnection) set for good: Winsock wakes
// no blocked call for them on its own, and a cancel misses a call about to
// begin. The time-outs are the state's too (a socket option does not bound
// an overlapped call or a connect). Every socket is made here, with a state.
#include "engine/socket_ops.h"

#include <mswsock.h>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <memory>
#include <optional>

#include "base/windows/sockaddr.h"
#include "base/windows/winsock_errors.h"
#include "engine/socket.h"
#include "engine/windows/socket_state.h"

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
  if (!SocketState::Add(s)) {
    ::closesocket(s);
    return -ENOMEM;
  }
  return static_cast<SocketHandle>(s);
}

void WINAPI CloseThreadsEvent(void* event) {
  if (event != nullptr) CloseHandle(event);
}

// The calling thread's event for its overlapped calls (one at a time), made
// on first use and closed when the thread ends. Kept in fiber-local storage,
// whose callback runs at thread exit for any thread: a C++ thread_local with
// a destructor is not safe here (MinGW's emulated TLS may free the object
// before its destructor runs).
HANDLE ThisThreadsEvent() {
  static const DWORD slot = FlsAlloc(&CloseThreadsEvent);
  if (slot == FLS_OUT_OF_INDEXES) return nullptr;
  HANDLE event = FlsGetValue(slot);
  if (event == nullptr) {
    event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event != nullptr && !FlsSetValue(slot, event)) {
      CloseHandle(event);
      return nullptr;
    }
  }
  return event;
}

// How an overlapped call ended: with its result (bytes moved, or -errno),
// or cancelled by the wake event or by the time-out before it moved a byte.
struct CallResult {
  enum class End { kDone, kWoken, kTimedOut } end = End::kDone;
  ssize_t value = 0;
};

// Starts an overlapped call with `start(overlapped, bytes)` (a Winsock call
// that returns 0 or SOCKET_ERROR) and waits until it completes, `wake` is
// set or `timeout_ms` (0: no limit) pass; then the call is cancelled. A call
// that completed meanwhile counts as done, so no byte is lost.
template <typename Start>
CallResult RunOverlapped(SOCKET s, HANDLE wake, DWORD timeout_ms, Start start) {
  WSAOVERLAPPED overlapped{};
  overlapped.hEvent = ThisThreadsEvent();
  if (overlapped.hEvent == nullptr) return {CallResult::End::kDone, -ENOMEM};
  DWORD bytes = 0;
  if (start(&overlapped, &bytes) == 0) return {CallResult::End::kDone, bytes};
  if (WSAGetLastError() != WSA_IO_PENDING) return {CallResult::End::kDone, LastError()};
  DWORD flags = 0;
  // The call's result once it is complete (waiting for that when `wait`).
  auto collect = [&](BOOL wait) -> std::optional<CallResult> {
    if (WSAGetOverlappedResult(s, &overlapped, &bytes, wait, &flags)) {
      return CallResult{CallResult::End::kDone, bytes};
    }
    const int error = WSAGetLastError();
    if (error == WSA_IO_INCOMPLETE) return std::nullopt;
    return CallResult{CallResult::End::kDone, -ErrnoFromWinsock(error)};
  };
  const HANDLE handles[2] = {overlapped.hEvent, wake};
  const DWORD wait = timeout_ms != 0 ? timeout_ms : INFINITE;
  DWORD waited;
  while ((waited = WaitForMultipleObjects(2, handles, FALSE, wait)) == WAIT_OBJECT_0) {
    if (std::optional<CallResult> done = collect(FALSE)) return *done;
    // Set by an earlier call, not this one: cleared, then looked at again
    // in case this one completed just before.
    ResetEvent(overlapped.hEvent);
    if (std::optional<CallResult> done = collect(FALSE)) return *done;
  }
  CancelIoEx(reinterpret_cast<HANDLE>(s), &overlapped);
  CallResult result = collect(TRUE).value_or(CallResult{CallResult::End::kDone, -EIO});
  if (result.value == -ECANCELED && waited == WAIT_TIMEOUT) {
    return {CallResult::End::kTimedOut, -EAGAIN};
  }
  if (result.value == -ECANCELED && waited == WAIT_OBJECT_0 + 1) {
    result.end = CallResult::End::kWoken;
  }
  return result;
}

// One of Winsock's extension functions (AcceptEx, ConnectEx) for sockets
// like `s`; null when the system has none.
template <typename Function>
Function Extension(SOCKET s, GUID id) {
  Function function = nullptr;
  DWORD bytes = 0;
  const int rc = ::WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function,
                            sizeof function, &bytes, nullptr, nullptr);
  return rc == SOCKET_ERROR ? nullptr : function;
}

// What a receive reads once the receiving side is ended: the end of the
// stream, or the reset that ended it.
ssize_t ReadingEnded(const SocketState& state) { return state.reset() ? -ECONNRESET : 0; }

}  // namespace

const int kMaxBacklog = SOMAXCONN;

AcceptFailure ClassifyAcceptError(int error) {
  switch (error) {
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return AcceptFailure::kRetryLater;
    // Reset before it was accepted: Windows says so, Wine says "not
    // connected".
    case ECONNABORTED:
    case ECONNRESET:
    case ENOTCONN:
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
  const std::shared_ptr<SocketState> state = SocketState::Of(Native(listen_fd));
  if (state == nullptr) return -ENOTSOCK;
  // As accept on a POSIX listening socket that was shut down.
  if (state->ended()) return -EINVAL;
  Endpoint local;
  const int known = LocalEndpoint(listen_fd, &local);
  if (known < 0) return known;
  const auto accept_ex = Extension<LPFN_ACCEPTEX>(Native(listen_fd), WSAID_ACCEPTEX);
  if (accept_ex == nullptr) return -EOPNOTSUPP;
  // AcceptEx takes the connection into a socket made for it beforehand.
  Socket accepted(CreateTcpSocket(local.family()));
  if (!accepted.valid()) return accepted.Release();
  constexpr DWORD kAddressRoom = sizeof(sockaddr_storage) + 16;
  char addresses[2 * kAddressRoom];
  const SOCKET listening = Native(listen_fd);
  const CallResult result = RunOverlapped(
      listening, state->ended_event(), 0, [&](WSAOVERLAPPED* overlapped, DWORD* bytes) {
        return accept_ex(listening, Native(accepted.fd()), addresses, 0, kAddressRoom, kAddressRoom,
                         bytes, overlapped)
                   ? 0
                   : SOCKET_ERROR;
      });
  if (result.end == CallResult::End::kWoken) return -EINVAL;
  if (result.value < 0) return result.value;
  // The accepted socket takes on the listening socket's options, and
  // getpeername and shutdown work on it from now on.
  if (::setsockopt(Native(accepted.fd()), SOL_SOCKET, SO_UPDATE_ACCEPT_CONTEXT,
                   reinterpret_cast<const char*>(&listening), sizeof listening) == SOCKET_ERROR) {
    return LastError();
  }
  if (peer != nullptr && PeerEndpoint(accepted.fd(), peer) < 0) *peer = Endpoint();
  return accepted.Release();
}

int Connect(SocketHandle fd, const Endpoint& endpoint) {
  const SOCKET s = Native(fd);
  const std::shared_ptr<SocketState> state = SocketState::Of(s);
  if (state == nullptr) return -ENOTSOCK;
  // Reset before it began (Stop): as one reset while it waits.
  if (state->ended()) return -ECONNABORTED;
  const auto connect_ex = Extension<LPFN_CONNECTEX>(s, WSAID_CONNECTEX);
  if (connect_ex == nullptr) return -EOPNOTSUPP;
  sockaddr_storage address;
  const int length = ToSockaddr(endpoint, &address);
  // ConnectEx wants a bound socket: any address of the family, as connect
  // would take (EINVAL: bound already).
  sockaddr_storage any{};
  any.ss_family = address.ss_family;
  if (::bind(s, reinterpret_cast<const sockaddr*>(&any), length) == SOCKET_ERROR &&
      WSAGetLastError() != WSAEINVAL) {
    return LastError();
  }
  const CallResult result =
      RunOverlapped(s, state->ended_event(), state->send_timeout.load(),
                    [&](WSAOVERLAPPED* overlapped, DWORD* bytes) {
                      return connect_ex(s, reinterpret_cast<const sockaddr*>(&address), length,
                                        nullptr, 0, bytes, overlapped)
                                 ? 0
                                 : SOCKET_ERROR;
                    });
  // As a POSIX connect that ran out of its send time-out.
  if (result.end == CallResult::End::kTimedOut) return -EINPROGRESS;
  if (result.end == CallResult::End::kWoken) return -ECONNABORTED;  // ended (Stop)
  if (result.value < 0) return static_cast<int>(result.value);
  // getsockname, getpeername and shutdown work on the socket from now on.
  return ResultOf(::setsockopt(s, SOL_SOCKET, SO_UPDATE_CONNECT_CONTEXT, nullptr, 0));
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
  const std::shared_ptr<SocketState> state = SocketState::Of(Native(fd));
  if (state == nullptr) return -ENOTSOCK;
  if (state->reading_ended()) return ReadingEnded(*state);
  WSABUF slice{static_cast<ULONG>(Clamp(length)), buffer};
  DWORD flags = 0;
  const CallResult result =
      RunOverlapped(Native(fd), state->reading_ended_event(), state->receive_timeout.load(),
                    [&](WSAOVERLAPPED* overlapped, DWORD* bytes) {
                      return ::WSARecv(Native(fd), &slice, 1, bytes, &flags, overlapped, nullptr);
                    });
  return result.end == CallResult::End::kWoken ? ReadingEnded(*state) : result.value;
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
  const std::shared_ptr<SocketState> state = SocketState::Of(Native(fd));
  if (state == nullptr) return -ENOTSOCK;
  if (state->ended()) return state->reset() ? -ECONNRESET : -EPIPE;
  WSABUF slice{static_cast<ULONG>(Clamp(length)), const_cast<char*>(data)};
  const CallResult result =
      RunOverlapped(Native(fd), state->ended_event(), state->send_timeout.load(),
                    [&](WSAOVERLAPPED* overlapped, DWORD* bytes) {
                      return ::WSASend(Native(fd), &slice, 1, bytes, 0, overlapped, nullptr);
                    });
  if (result.end != CallResult::End::kWoken) return result.value;
  return state->reset() ? -ECONNRESET : -EPIPE;
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

// Polls `fd` for `events` (and an error or a hang-up) up to `timeout`.
// WSAPoll can't wait for the socket state's end as well, and neither
// shutdown nor a reset ends a poll under way: it waits in short slices, so
// that an end from this side (Stop) ends the wait within one (1: ready).
static int PollUntilEnded(SocketHandle fd, short events, std::chrono::nanoseconds timeout) {
  // Whole milliseconds, rounded up so a wait never ends early.
  const int milliseconds =
      timeout < std::chrono::nanoseconds(0)
          ? -1
          : static_cast<int>(std::min<long long>(
                std::chrono::ceil<std::chrono::milliseconds>(timeout).count(), INT_MAX));
  constexpr ULONGLONG kSliceMs = 50;
  const std::shared_ptr<SocketState> state = SocketState::Of(Native(fd));
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(milliseconds, 0));
  while (true) {
    if (state != nullptr && state->ended()) return 1;
    ULONGLONG slice = kSliceMs;
    if (milliseconds >= 0) {
      const ULONGLONG now = GetTickCount64();
      slice = std::min(slice, now >= deadline ? 0 : deadline - now);
    }
    WSAPOLLFD p{Native(fd), events, 0};
    const int result = ::WSAPoll(&p, 1, static_cast<INT>(slice));
    if (result == SOCKET_ERROR) return LastError();
    if (result > 0) return 1;
    if (milliseconds >= 0 && GetTickCount64() >= deadline) return 0;
  }
}

int WaitReadable(SocketHandle fd, std::chrono::nanoseconds timeout) {
  return PollUntilEnded(fd, POLLRDNORM, timeout);
}

int SetReceiveTimeout(SocketHandle fd, int milliseconds) {
  const std::shared_ptr<SocketState> state = SocketState::Of(Native(fd));
  if (state == nullptr) return -ENOTSOCK;
  state->receive_timeout.store(static_cast<DWORD>(milliseconds));
  return 0;
}

int SetSendTimeout(SocketHandle fd, int milliseconds) {
  const std::shared_ptr<SocketState> state = SocketState::Of(Native(fd));
  if (state == nullptr) return -ENOTSOCK;
  state->send_timeout.store(static_cast<DWORD>(milliseconds));
  return 0;
}

int WaitForHangUp(SocketHandle fd, std::chrono::nanoseconds timeout) {
  // No events asked: WSAPoll reports only an error or a hang-up.
  return PollUntilEnded(fd, 0, timeout);
}

int UnsentBytes(SocketHandle) {
  // Winsock does not tell how much of what was sent is unacknowledged;
  // callers then go on at once, as they would once it was all taken.
  return 0;
}

int ShutdownRead(SocketHandle fd) {
  // The engine's own end of the receiving side, without shutdown(SD_RECEIVE):
  // Windows resets a connection that gets bytes after that, and the sends
  // that go on would be cancelled along with the receive.
  const std::shared_ptr<SocketState> state = SocketState::Of(Native(fd));
  if (state == nullptr) return -ENOTSOCK;
  state->EndReading();
  return 0;
}

void BlockSigpipe() {}

void DiscardPendingSigpipe() {}

int ShutdownWrite(SocketHandle fd) { return ResultOf(::shutdown(Native(fd), SD_SEND)); }

int ShutdownBoth(SocketHandle fd) {
  // Passes a FIN on (a listening socket has nothing to shut down). It wakes
  // no waiting call, and a listening socket goes on taking connections: the
  // state's end does that, and stays for calls to come.
  ::shutdown(Native(fd), SD_BOTH);
  const std::shared_ptr<SocketState> state = SocketState::Of(Native(fd));
  if (state == nullptr) return -ENOTSOCK;
  state->End(/*reset=*/false);
  return 0;
}

bool IsClosedState(SocketHandle fd) {
  // Only a reset counts here (an orderly end never has to be told from
  // one): a receive waiting when it came fails with WSAECONNRESET, but
  // Wine's recv reads one that came before it as the end of the stream.
  // WSAPoll shows it as an error either way; a FIN as a hang-up only.
  WSAPOLLFD p{Native(fd), 0, 0};
  return ::WSAPoll(&p, 1, 0) > 0 && (p.revents & POLLERR) != 0;
}

void ResetConnection(SocketHandle fd) {
  // Winsock can't abort a connection without closing the socket, and the
  // socket must stay open while another thread may still use it. So: a
  // zero linger, so that the owner's close sends the reset, and the state
  // ended, which wakes a thread waiting in recv, send, accept or connect
  // and fails the calls to come. Not shut down: the peer would read a FIN,
  // an orderly end, before the reset.
  const linger abort_on_close{1, 0};
  ::setsockopt(Native(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort_on_close),
               sizeof abort_on_close);
  if (std::shared_ptr<SocketState> state = SocketState::Of(Native(fd))) state->End(/*reset=*/true);
}

void Close(SocketHandle fd) {
  if (fd < 0) return;
  SocketState::Remove(Native(fd));
  ::closesocket(Native(fd));
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

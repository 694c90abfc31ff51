// The engine's socket calls over Winsock 2.2. Sockets are not inherited by
// child processes; failures come back as negated errno values
// (base/windows/winsock_errors.h), so the engine reads them as it does on
// POSIX. Winsock needs no SIGPIPE handling: a send to a peer that has gone
// fails with an error.
//
// Calls that wait (receive, send, accept, connect) are overlapped or
// event-driven and also wait on the socket's SocketState, which the ends
// (ShutdownRead, ShutdownBoth, ResetConnection) set for good: Winsock wakes
// no blocked call for them on its own, and a cancel misses a call about to
// begin. The time-outs are the state's too (a socket option does not bound
// an overlapped call or a connect).
#include "engine/socket_ops.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <optional>

#include "base/windows/sockaddr.h"
#include "base/windows/winsock_errors.h"
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

// The calling thread's event for its overlapped calls (one at a time).
HANDLE ThisThreadsEvent() {
  struct Event {
    HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Event() {
      if (handle != nullptr) CloseHandle(handle);
    }
  };
  thread_local Event event;
  return event.handle;
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
  if (result.value == -ECANCELED && waited == WAIT_TIMEOUT)
    return {CallResult::End::kTimedOut, -EAGAIN};
  if (result.value == -ECANCELED && waited == WAIT_OBJECT_0 + 1)
    result.end = CallResult::End::kWoken;
  return result;
}

// What a receive reads once the receiving side is ended: the end of the
// stream, or the reset that ended it.
ssize_t ReadingEnded(const SocketState& state) { return state.reset() ? -ECONNRESET : 0; }

// Makes a socket that inherited or was given an event selection plain and
// blocking again. 0 or -errno.
int Unselect(SOCKET s) {
  u_long blocking = 0;
  if (::WSAEventSelect(s, nullptr, 0) == SOCKET_ERROR) return LastError();
  return ResultOf(::ioctlsocket(s, FIONBIO, &blocking));
}

// A non-blocking connect of `s` (its events selected on `done`), waited for
// until it completes, the socket is ended or the send time-out passes.
int ConnectSelected(SOCKET s, const sockaddr_storage& address, int length, HANDLE done,
                    const SocketState& state) {
  if (::WSAEventSelect(s, done, FD_CONNECT) == SOCKET_ERROR) return LastError();
  if (::connect(s, reinterpret_cast<const sockaddr*>(&address), length) == 0) return 0;
  if (WSAGetLastError() != WSAEWOULDBLOCK) return LastError();
  const DWORD timeout = state.send_timeout.load();
  const ULONGLONG deadline = GetTickCount64() + timeout;
  const HANDLE handles[2] = {done, state.ended_event()};
  while (true) {
    DWORD wait = INFINITE;
    if (timeout != 0) {
      const ULONGLONG now = GetTickCount64();
      wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    }
    const DWORD waited = WaitForMultipleObjects(2, handles, FALSE, wait);
    // As a POSIX connect that ran out of its send time-out.
    if (waited == WAIT_TIMEOUT) return -EINPROGRESS;
    if (waited != WAIT_OBJECT_0) return -ECONNABORTED;  // ended (Stop)
    WSANETWORKEVENTS events{};
    if (::WSAEnumNetworkEvents(s, nullptr, &events) == SOCKET_ERROR) return LastError();
    if ((events.lNetworkEvents & FD_CONNECT) != 0) {
      const int error = events.iErrorCode[FD_CONNECT_BIT];
      return error == 0 ? 0 : -ErrnoFromWinsock(error);
    }
  }
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

int Listen(SocketHandle fd, int backlog) {
  const int result = ResultOf(::listen(Native(fd), backlog));
  if (result < 0) return result;
  // Accept waits for this event (and the socket's end) instead of blocking
  // in accept, which an end would not wake.
  const std::shared_ptr<SocketState> state = SocketState::Of(Native(fd));
  const int error = state != nullptr ? state->WatchAccepts(Native(fd)) : 0;
  return error == 0 ? 0 : -ErrnoFromWinsock(error);
}

SocketHandle Accept(SocketHandle listen_fd, Endpoint* peer) {
  const std::shared_ptr<SocketState> state = SocketState::Of(Native(listen_fd));
  const HANDLE arrived = state != nullptr ? state->accept_event() : nullptr;
  while (true) {
    // As accept on a POSIX listening socket that was shut down.
    if (state != nullptr && state->ended()) return -EINVAL;
    sockaddr_storage storage{};
    int length = sizeof storage;
    const SOCKET s = ::accept(Native(listen_fd), reinterpret_cast<sockaddr*>(&storage), &length);
    if (s != INVALID_SOCKET) {
      // The accepted socket inherits the listening socket's event selection.
      const int plain = arrived != nullptr ? Unselect(s) : 0;
      if (plain < 0) {
        ::closesocket(s);
        return plain;
      }
      if (peer != nullptr) {
        *peer =
            FromSockaddr(reinterpret_cast<const sockaddr*>(&storage), length).value_or(Endpoint());
      }
      return Made(s);
    }
    if (arrived == nullptr || WSAGetLastError() != WSAEWOULDBLOCK) return LastError();
    // A connection that came after the accept above sets the event again.
    const HANDLE handles[2] = {arrived, state->ended_event()};
    if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_FAILED) return LastError();
  }
}

int Connect(SocketHandle fd, const Endpoint& endpoint) {
  sockaddr_storage storage;
  const int length = ToSockaddr(endpoint, &storage);
  const std::shared_ptr<SocketState> state = SocketState::Of(Native(fd));
  if (state == nullptr) {
    return ResultOf(::connect(Native(fd), reinterpret_cast<const sockaddr*>(&storage), length));
  }
  // Reset before it began (Stop): as one reset while it waits.
  if (state->ended()) return -ECONNABORTED;
  // Non-blocking while it waits, so that the send time-out and an end can
  // cut the wait short; blocking again after, as the relay wants it.
  const HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (done == nullptr) return -ENOMEM;
  const int result = ConnectSelected(Native(fd), storage, length, done, *state);
  const int plain = Unselect(Native(fd));
  CloseHandle(done);
  return result < 0 ? result : plain;
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
  if (state == nullptr) {
    const int n = ::recv(Native(fd), buffer, Clamp(length), 0);
    return n == SOCKET_ERROR ? LastError() : n;
  }
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

ssize_t Send(SocketHandle fd, const char* data, size_t length) {
  const std::shared_ptr<SocketState> state = SocketState::Of(Native(fd));
  if (state == nullptr) {
    const int n = ::send(Native(fd), data, Clamp(length), 0);
    return n == SOCKET_ERROR ? LastError() : n;
  }
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

int WaitReadable(SocketHandle fd) {
  WSAPOLLFD p{Native(fd), POLLRDNORM, 0};
  return ::WSAPoll(&p, 1, -1) == SOCKET_ERROR ? LastError() : 0;
}

int SetReceiveTimeout(SocketHandle fd, int milliseconds) {
  const DWORD timeout = static_cast<DWORD>(milliseconds);
  if (std::shared_ptr<SocketState> state = SocketState::Of(Native(fd))) {
    state->receive_timeout.store(timeout);
    return 0;
  }
  return ResultOf(::setsockopt(Native(fd), SOL_SOCKET, SO_RCVTIMEO,
                               reinterpret_cast<const char*>(&timeout), sizeof timeout));
}

int SetSendTimeout(SocketHandle fd, int milliseconds) {
  const DWORD timeout = static_cast<DWORD>(milliseconds);
  if (std::shared_ptr<SocketState> state = SocketState::Of(Native(fd))) {
    state->send_timeout.store(timeout);
    return 0;
  }
  return ResultOf(::setsockopt(Native(fd), SOL_SOCKET, SO_SNDTIMEO,
                               reinterpret_cast<const char*>(&timeout), sizeof timeout));
}

int WaitForHangUp(SocketHandle fd, int milliseconds) {
  // WSAPoll can't wait for the state's end as well, and neither shutdown
  // nor a reset ends a poll under way: it waits in short slices, so that an
  // end from this side (Stop) ends the wait within one.
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
    // No events asked: WSAPoll reports only an error or a hang-up.
    WSAPOLLFD p{Native(fd), 0, 0};
    const int result = ::WSAPoll(&p, 1, static_cast<INT>(slice));
    if (result == SOCKET_ERROR) return LastError();
    if (result > 0) return 1;
    if (milliseconds >= 0 && GetTickCount64() >= deadline) return 0;
  }
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
  if (std::shared_ptr<SocketState> state = SocketState::Of(Native(fd))) {
    state->EndReading();
    return 0;
  }
  return ResultOf(::shutdown(Native(fd), SD_RECEIVE));
}

void BlockSigpipe() {}

void DiscardPendingSigpipe() {}

int ShutdownWrite(SocketHandle fd) { return ResultOf(::shutdown(Native(fd), SD_SEND)); }

int ShutdownBoth(SocketHandle fd) {
  const int result = ResultOf(::shutdown(Native(fd), SD_BOTH));
  // shutdown wakes no waiting call (and a listening socket goes on taking
  // connections): the state's end does, and stays for calls to come.
  if (std::shared_ptr<SocketState> state = SocketState::Of(Native(fd))) {
    state->End(/*reset=*/false);
    return 0;
  }
  ::CancelIoEx(reinterpret_cast<HANDLE>(Native(fd)), nullptr);
  return result;
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
  if (std::shared_ptr<SocketState> state = SocketState::Of(Native(fd))) {
    state->End(/*reset=*/true);
  } else {
    ::shutdown(Native(fd), SD_BOTH);
    ::CancelIoEx(reinterpret_cast<HANDLE>(Native(fd)), nullptr);
  }
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

#include "engine/socket_ops.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "base/posix/sockaddr.h"
#include "base/posix/socket_descriptor.h"

namespace portwick::sockets {

namespace {

int ResultOf(int rc) { return rc < 0 ? -errno : rc; }

int SetIntOption(SocketHandle fd, int level, int name, int value) {
  return ResultOf(::setsockopt(Descriptor(fd), level, name, &value, sizeof value));
}

// After an interrupted connect the connection goes on in the background;
// wait for it to finish and fetch its result.
int FinishInterruptedConnect(SocketHandle fd) {
  pollfd p{Descriptor(fd), POLLOUT, 0};
  while (true) {
    int rc = ::poll(&p, 1, -1);
    if (rc >= 0) break;
    if (errno != EINTR) return -errno;
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(Descriptor(fd), SOL_SOCKET, SO_ERROR, &error, &length) < 0) return -errno;
  return -error;
}

using NameCall = int (*)(int, sockaddr*, socklen_t*);

int EndpointOf(NameCall call, SocketHandle fd, Endpoint* endpoint) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (call(Descriptor(fd), reinterpret_cast<sockaddr*>(&storage), &length) < 0) return -errno;
  std::optional<Endpoint> parsed =
      FromSockaddr(reinterpret_cast<const sockaddr*>(&storage), length);
  if (!parsed) return -EAFNOSUPPORT;
  *endpoint = *parsed;
  return 0;
}

Status ResolveError(int rc) {
  const int error_number = rc == EAI_SYSTEM ? errno : 0;
  return Status::Error(Status::Kind::kResolve, "resolve", error_number, ::gai_strerror(rc));
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
    // The connection went away before it was accepted, or a network error
    // was reported for it: only that connection is lost.
    case ECONNABORTED:
    case EPROTO:
    case EPERM:
    case EAGAIN:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ETIMEDOUT:
      return AcceptFailure::kSkip;
    default:  // EINVAL once the socket is shut down, EBADF, ...
      return AcceptFailure::kEnd;
  }
}

SocketHandle CreateTcpSocket(Endpoint::Family family) {
  return ResultOf(::socket(AddressFamily(family), SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
}

int SetReuseAddress(SocketHandle fd) { return SetIntOption(fd, SOL_SOCKET, SO_REUSEADDR, 1); }

int SetNoDelay(SocketHandle fd) { return SetIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1); }

int Bind(SocketHandle fd, const Endpoint& endpoint) {
  if (endpoint.family() == Endpoint::Family::kIPv6 && endpoint.IsAny()) {
    const int result = SetIntOption(fd, IPPROTO_IPV6, IPV6_V6ONLY, 0);
    if (result < 0) return result;
  }
  sockaddr_storage storage;
  const socklen_t length = ToSockaddr(endpoint, &storage);
  return ResultOf(::bind(Descriptor(fd), reinterpret_cast<const sockaddr*>(&storage), length));
}

int BindLoopback(SocketHandle fd, int port) {
  return Bind(fd, Endpoint::LoopbackIPv4(static_cast<uint16_t>(port & 0xffff)));
}

int Listen(SocketHandle fd, int backlog) { return ResultOf(::listen(Descriptor(fd), backlog)); }

SocketHandle Accept(SocketHandle listen_fd, Endpoint* peer) {
  while (true) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    const int fd = ::accept4(Descriptor(listen_fd), reinterpret_cast<sockaddr*>(&storage), &length,
                             SOCK_CLOEXEC);
    if (fd >= 0) {
      if (peer != nullptr) {
        std::optional<Endpoint> parsed =
            FromSockaddr(reinterpret_cast<const sockaddr*>(&storage), length);
        *peer = parsed.value_or(Endpoint());
      }
      return fd;
    }
    if (errno != EINTR) return -errno;
  }
}

int Connect(SocketHandle fd, const Endpoint& endpoint) {
  sockaddr_storage storage;
  const socklen_t length = ToSockaddr(endpoint, &storage);
  if (::connect(Descriptor(fd), reinterpret_cast<const sockaddr*>(&storage), length) == 0) return 0;
  if (errno == EINTR) return FinishInterruptedConnect(fd);
  return -errno;
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
  while (true) {
    ssize_t n = ::recv(Descriptor(fd), buffer, length, 0);
    if (n >= 0) return n;
    if (errno != EINTR) return -errno;
  }
}

ssize_t RecvIfReady(SocketHandle fd, char* buffer, size_t length) {
  while (true) {
    ssize_t n = ::recv(Descriptor(fd), buffer, length, MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno != EINTR) return errno == EWOULDBLOCK ? -EAGAIN : -errno;
  }
}

ssize_t Send(SocketHandle fd, const char* data, size_t length, bool ends_piece) {
  const int flags = MSG_NOSIGNAL | (ends_piece ? MSG_EOR : 0);
  while (true) {
    ssize_t n = ::send(Descriptor(fd), data, length, flags);
    if (n >= 0) return n;
    if (errno != EINTR) return -errno;
  }
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

ssize_t Splice(int from, int to, size_t length) {
  while (true) {
    const ssize_t n = ::splice(from, nullptr, to, nullptr, length, SPLICE_F_MOVE);
    if (n >= 0) return n;
    if (errno != EINTR) return -errno;
  }
}

namespace {

// poll for one descriptor, with a time-out to the nanosecond (ppoll; poll
// rounds to whole milliseconds), resumed after a signal with what is left.
int PollFor(pollfd* p, std::chrono::nanoseconds timeout) {
  using std::chrono::steady_clock;
  const bool limited = timeout >= std::chrono::nanoseconds(0);
  const steady_clock::time_point deadline =
      limited ? steady_clock::now() + timeout : steady_clock::time_point();
  while (true) {
    timespec left{};
    if (limited) {
      const auto rest = std::max<std::chrono::nanoseconds>(deadline - steady_clock::now(),
                                                           std::chrono::nanoseconds(0));
      left.tv_sec = static_cast<time_t>(rest.count() / 1000000000);
      left.tv_nsec = static_cast<long>(rest.count() % 1000000000);
    }
    const int result = ::ppoll(p, 1, limited ? &left : nullptr, nullptr);
    if (result >= 0) return result > 0 ? 1 : 0;
    if (errno != EINTR) return -errno;
  }
}

}  // namespace

int WaitReadable(SocketHandle fd, std::chrono::nanoseconds timeout) {
  pollfd p{Descriptor(fd), POLLIN | POLLRDHUP, 0};
  return PollFor(&p, timeout);
}

int SetReceiveTimeout(SocketHandle fd, int milliseconds) {
  timeval timeout{};
  timeout.tv_sec = milliseconds / 1000;
  timeout.tv_usec = (milliseconds % 1000) * 1000;
  return ResultOf(::setsockopt(Descriptor(fd), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout));
}

int SetSendTimeout(SocketHandle fd, int milliseconds) {
  timeval timeout{};
  timeout.tv_sec = milliseconds / 1000;
  timeout.tv_usec = (milliseconds % 1000) * 1000;
  return ResultOf(::setsockopt(Descriptor(fd), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout));
}

int WaitForHangUp(SocketHandle fd, std::chrono::nanoseconds timeout) {
  // No events asked: poll reports only an error or a hang-up, which a reset
  // of the connection (Session::Reset) raises.
  pollfd p{Descriptor(fd), 0, 0};
  return PollFor(&p, timeout);
}

int UnsentBytes(SocketHandle fd) {
  int bytes = 0;
  if (::ioctl(Descriptor(fd), SIOCOUTQ, &bytes) < 0) return -errno;
  return bytes;
}

namespace {
thread_local bool sigpipe_blocked = false;

sigset_t SigpipeSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}
}  // namespace

void BlockSigpipe() {
  if (sigpipe_blocked) return;
  const sigset_t set = SigpipeSet();
  sigpipe_blocked = ::pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

void DiscardPendingSigpipe() {
  const sigset_t set = SigpipeSet();
  const timespec now{};
  while (::sigtimedwait(&set, nullptr, &now) == SIGPIPE) {
  }
}

int ShutdownWrite(SocketHandle fd) { return ResultOf(::shutdown(Descriptor(fd), SHUT_WR)); }

int ShutdownRead(SocketHandle fd) { return ResultOf(::shutdown(Descriptor(fd), SHUT_RD)); }

int ShutdownBoth(SocketHandle fd) { return ResultOf(::shutdown(Descriptor(fd), SHUT_RDWR)); }

bool IsClosedState(SocketHandle fd) {
  tcp_info info{};
  socklen_t length = sizeof(info);
  if (::getsockopt(Descriptor(fd), IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return false;
  return length > 0 && info.tcpi_state == TCP_CLOSE;
}

void ResetConnection(SocketHandle fd) {
  // Connecting a TCP socket to AF_UNSPEC disconnects it: an established
  // connection is aborted with a reset, a pending connect fails, and blocked
  // readers and writers wake with ECONNRESET. The descriptor stays open, so a
  // thread still using it never touches a reused descriptor number.
  //
  // The call goes straight to the kernel: ThreadSanitizer takes a successful
  // connect() for the creation of a new descriptor and would report every
  // thread still reading it.
  sockaddr sa{};
  sa.sa_family = AF_UNSPEC;
  while (::syscall(SYS_connect, Descriptor(fd), &sa, sizeof sa) < 0 && errno == EINTR) {
  }
  // A socket that was never connected is not affected by the above; shutdown
  // wakes anything blocked on it (and is a no-op on the disconnected one).
  ::shutdown(Descriptor(fd), SHUT_RDWR);
}

void Close(SocketHandle fd) {
  // On Linux the descriptor is released even when close reports EINTR, so it
  // must not be retried.
  if (fd >= 0) ::close(Descriptor(fd));
}

Status Resolve(const std::string& host, uint16_t port, std::vector<Endpoint>* endpoints) {
  endpoints->clear();
  // A dotted IPv4 address as inet_addr reads it (also "10.1" and the like).
  const in_addr_t dotted = ::inet_addr(host.c_str());
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
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  // A null name stands for this machine: without AI_PASSIVE that is its
  // loopback addresses. The resolver needs a service for a null name.
  const int rc = host.empty() ? ::getaddrinfo(nullptr, "0", &hints, &result)
                              : ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
  if (rc != 0) return ResolveError(rc);
  for (const addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_addr == nullptr) continue;
    std::optional<Endpoint> endpoint = FromSockaddr(ai->ai_addr, ai->ai_addrlen);
    if (!endpoint) continue;
    endpoint->set_port(port);
    if (std::find(endpoints->begin(), endpoints->end(), *endpoint) == endpoints->end()) {
      endpoints->push_back(*endpoint);
    }
  }
  ::freeaddrinfo(result);
  if (endpoints->empty()) return ResolveError(EAI_NONAME);
  return Status();
}

std::string ErrorText(int error) { return portwick::ErrorText(error); }

}  // namespace portwick::sockets

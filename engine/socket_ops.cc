#include "engine/socket_ops.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace portwick::sockets {

namespace {

int ResultOf(int rc) { return rc < 0 ? -errno : rc; }

sockaddr_in MakeAddress(in_addr_t address, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port & 0xffff));
  sa.sin_addr.s_addr = address;
  return sa;
}

int SetIntOption(int fd, int level, int name, int value) {
  return ResultOf(::setsockopt(fd, level, name, &value, sizeof value));
}

int Bind(int fd, in_addr_t address, int port) {
  sockaddr_in sa = MakeAddress(address, port);
  return ResultOf(::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa));
}

// After an interrupted connect the connection goes on in the background;
// wait for it to finish and fetch its result.
int FinishInterruptedConnect(int fd) {
  pollfd p{fd, POLLOUT, 0};
  while (true) {
    int rc = ::poll(&p, 1, -1);
    if (rc >= 0) break;
    if (errno != EINTR) return -errno;
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0) return -errno;
  return -error;
}

}  // namespace

int CreateTcpSocket() {
  return ResultOf(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
}

int SetReuseAddress(int fd) { return SetIntOption(fd, SOL_SOCKET, SO_REUSEADDR, 1); }

int SetNoDelay(int fd) { return SetIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1); }

int BindAny(int fd, int port) { return Bind(fd, htonl(INADDR_ANY), port); }

int BindLoopback(int fd, int port) { return Bind(fd, htonl(INADDR_LOOPBACK), port); }

int Listen(int fd, int backlog) { return ResultOf(::listen(fd, backlog)); }

int Accept(int listen_fd) {
  while (true) {
    int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return fd;
    if (errno != EINTR) return -errno;
  }
}

int Connect(int fd, in_addr_t address, int port) {
  sockaddr_in sa = MakeAddress(address, port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return 0;
  if (errno == EINTR) return FinishInterruptedConnect(fd);
  return -errno;
}

int LocalPort(int fd) {
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) < 0) return -errno;
  return ntohs(sa.sin_port);
}

ssize_t Recv(int fd, char* buffer, size_t length) {
  while (true) {
    ssize_t n = ::recv(fd, buffer, length, 0);
    if (n >= 0) return n;
    if (errno != EINTR) return -errno;
  }
}

ssize_t Send(int fd, const char* data, size_t length) {
  while (true) {
    ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno != EINTR) return -errno;
  }
}

int SendAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = Send(fd, data, length);
    if (n < 0) return static_cast<int>(n);
    data += n;
    length -= static_cast<size_t>(n);
  }
  return 0;
}

int ShutdownWrite(int fd) { return ResultOf(::shutdown(fd, SHUT_WR)); }

int ShutdownBoth(int fd) { return ResultOf(::shutdown(fd, SHUT_RDWR)); }

void ResetConnection(int fd) {
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
  while (::syscall(SYS_connect, fd, &sa, sizeof sa) < 0 && errno == EINTR) {
  }
  // A socket that was never connected is not affected by the above; shutdown
  // wakes anything blocked on it (and is a no-op on the disconnected one).
  ::shutdown(fd, SHUT_RDWR);
}

void Close(int fd) {
  // On Linux the descriptor is released even when close reports EINTR, so it
  // must not be retried.
  if (fd >= 0) ::close(fd);
}

bool ResolveIPv4(const std::string& host, in_addr_t* address) {
  in_addr_t dotted = ::inet_addr(host.c_str());
  if (dotted != INADDR_NONE) {
    *address = dotted;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
    return false;
  }
  bool found = false;
  for (addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && ai->ai_addr != nullptr) {
      *address = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
      found = true;
      break;
    }
  }
  ::freeaddrinfo(result);
  return found;
}

std::string ErrorText(int error) {
  if (error < 0) error = -error;
  char buffer[256];
  // GNU strerror_r: returns the text, which may or may not be in `buffer`.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  return text;
}

}  // namespace portwick::sockets

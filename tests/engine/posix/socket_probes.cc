#include "socket_probes.h"

#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>

#include "base/posix/sockaddr.h"
#include "base/posix/socket_descriptor.h"

namespace portwick::testing {

namespace {

int PollOne(SocketHandle fd, short events, int milliseconds) {
  pollfd p{Descriptor(fd), events, 0};
  const int rc = ::poll(&p, 1, milliseconds);
  return rc < 0 ? -errno : rc;
}

}  // namespace

int WaitReadableFor(SocketHandle fd, int milliseconds) { return PollOne(fd, POLLIN, milliseconds); }

int WaitWritableFor(SocketHandle fd, int milliseconds) {
  return PollOne(fd, POLLOUT, milliseconds);
}

bool StartConnect(SocketHandle fd, const Endpoint& endpoint) {
  sockaddr_storage sa;
  const socklen_t length = ToSockaddr(endpoint, &sa);
  ::fcntl(Descriptor(fd), F_SETFL, O_NONBLOCK);
  return ::connect(Descriptor(fd), reinterpret_cast<const sockaddr*>(&sa), length) == 0 ||
         errno == EINPROGRESS;
}

void SetBlocking(SocketHandle fd) { ::fcntl(Descriptor(fd), F_SETFL, 0); }

bool EndOfStreamIsReadable(SocketHandle fd) {
  char byte;
  return ::recv(Descriptor(fd), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

bool EndWasAReset(SocketHandle) { return false; }

bool SocketIsOpen(SocketHandle fd) { return ::fcntl(Descriptor(fd), F_GETFD) != -1; }

std::optional<bool> NoDelayIsSet(SocketHandle fd) {
  int no_delay = 0;
  socklen_t length = sizeof no_delay;
  if (::getsockopt(Descriptor(fd), IPPROTO_TCP, TCP_NODELAY, &no_delay, &length) != 0) {
    return std::nullopt;
  }
  return no_delay != 0;
}

std::vector<SocketHandle> OpenSockets() {
  std::vector<SocketHandle> found;
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return found;
  while (const dirent* entry = ::readdir(dir)) {
    int type = 0;
    socklen_t length = sizeof type;
    const int fd = std::atoi(entry->d_name);
    if (entry->d_name[0] != '.' && ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0) {
      found.push_back(fd);
    }
  }
  ::closedir(dir);
  return found;
}

std::optional<Endpoint> OtherLocalIPv4() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return std::nullopt;
  std::optional<Endpoint> found;
  for (const ifaddrs* i = list; i != nullptr && !found; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    std::optional<Endpoint> endpoint = FromSockaddr(i->ifa_addr, sizeof(sockaddr_in));
    if (endpoint && endpoint->address_bytes()[0] != 127 && !endpoint->IsAny()) found = endpoint;
  }
  ::freeifaddrs(list);
  return found;
}

}  // namespace portwick::testing

#include "bench/load_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "bench/load_protocol.h"

namespace portwick::bench {

namespace {

constexpr std::size_t kScratchSize = 256 * 1024;
constexpr int kMaxEvents = 64;
constexpr int kBacklog = 4096;

}  // namespace

struct LoadServer::Connection {
  explicit Connection(int descriptor) : fd(descriptor) {}

  UniqueFd fd;
  char mode = 0;                 // 0 until the first byte arrived
  std::string pending;           // bytes owed to the peer (echo data or acks)
  std::size_t pending_sent = 0;  // how much of `pending` went out already
  unsigned char header[kSourceHeaderSize] = {};
  std::size_t header_size = 0;
  std::uint64_t source_left = 0;
  std::uint64_t sink_received = 0;
  std::uint64_t acks_queued = 0;
  std::uint32_t interest = 0;
};

LoadServer::LoadServer() : scratch_(new char[kScratchSize]), pattern_(new char[kScratchSize]) {
  for (std::size_t i = 0; i < kScratchSize; ++i) pattern_[i] = static_cast<char>('A' + i % 26);
}

LoadServer::~LoadServer() = default;

bool LoadServer::Open(int port, std::string* error) {
  listener_ = ListenLoopback(port, kBacklog, true, error);
  if (!listener_.valid()) return false;
  port_ = LocalPort(listener_.get());
  epoll_ = UniqueFd(::epoll_create1(EPOLL_CLOEXEC));
  wakeup_ = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!epoll_.valid() || !wakeup_.valid()) {
    if (error != nullptr) *error = std::string("epoll/eventfd: ") + std::strerror(errno);
    return false;
  }
  for (int fd : {listener_.get(), wakeup_.get()}) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event);
  }
  return true;
}

void LoadServer::Shutdown() {
  std::uint64_t one = 1;
  if (wakeup_.valid()) {
    [[maybe_unused]] ssize_t n = ::write(wakeup_.get(), &one, sizeof(one));
  }
}

void LoadServer::Run() {
  epoll_event events[kMaxEvents];
  for (;;) {
    int count = ::epoll_wait(epoll_.get(), events, kMaxEvents, -1);
    if (count < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < count; ++i) {
      int fd = events[i].data.fd;
      if (fd == wakeup_.get()) {
        connections_.clear();
        return;
      }
      if (fd == listener_.get()) {
        AcceptAll();
        continue;
      }
      auto it = connections_.find(fd);
      if (it == connections_.end()) continue;
      if (events[i].events & EPOLLERR) {
        CloseConnection(fd);
        continue;
      }
      if (events[i].events & (EPOLLIN | EPOLLHUP)) OnReadable(*it->second);
      it = connections_.find(fd);
      if (it != connections_.end() && (events[i].events & EPOLLOUT)) OnWritable(*it->second);
    }
  }
  connections_.clear();
}

void LoadServer::AcceptAll() {
  for (;;) {
    int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // EAGAIN, or out of descriptors: try again on the next event
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    auto connection = std::make_unique<Connection>(fd);
    connection->interest = EPOLLIN;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) != 0) continue;  // closes fd
    connections_[fd] = std::move(connection);
  }
}

void LoadServer::OnReadable(Connection& connection) {
  ssize_t n = ::recv(connection.fd.get(), scratch_.get(), kScratchSize, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    CloseConnection(connection.fd.get());
    return;
  }
  const char* data = scratch_.get();
  std::size_t size = static_cast<std::size_t>(n);
  if (connection.mode == 0) {
    connection.mode = data[0];
    if (connection.mode != kEchoMode) {  // echo sends its mode byte back too
      ++data;
      --size;
    }
  }
  switch (connection.mode) {
    case kEchoMode:
      connection.pending.append(data, size);
      break;
    case kSinkMode: {
      connection.sink_received += size;
      std::uint64_t acks = connection.sink_received / kAckUnit;
      connection.pending.append(acks - connection.acks_queued, kAckByte);
      connection.acks_queued = acks;
      break;
    }
    case kSourceMode:
      while (size > 0 && connection.header_size < kSourceHeaderSize) {
        connection.header[connection.header_size++] = static_cast<unsigned char>(*data++);
        --size;
        if (connection.header_size == kSourceHeaderSize) {
          connection.source_left = DecodeCount(connection.header);
        }
      }
      break;  // anything after the header is ignored
    default:
      CloseConnection(connection.fd.get());
      return;
  }
  OnWritable(connection);
}

void LoadServer::OnWritable(Connection& connection) {
  int fd = connection.fd.get();
  if (!Flush(connection)) {
    CloseConnection(fd);
    return;
  }
  while (connection.pending.empty() && connection.source_left > 0) {
    std::size_t chunk = connection.source_left < kScratchSize
                            ? static_cast<std::size_t>(connection.source_left)
                            : kScratchSize;
    ssize_t n = ::send(fd, pattern_.get(), chunk, MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
    if (n <= 0) {
      CloseConnection(fd);
      return;
    }
    connection.source_left -= static_cast<std::uint64_t>(n);
  }
  UpdateInterest(connection);
}

bool LoadServer::Flush(Connection& connection) {
  while (connection.pending_sent < connection.pending.size()) {
    ssize_t n = ::send(connection.fd.get(), connection.pending.data() + connection.pending_sent,
                       connection.pending.size() - connection.pending_sent, MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (n <= 0) return false;
    connection.pending_sent += static_cast<std::size_t>(n);
  }
  connection.pending.clear();
  connection.pending_sent = 0;
  return true;
}

void LoadServer::UpdateInterest(Connection& connection) {
  std::uint32_t want = 0;
  // An echo connection reads again only when everything read so far went back,
  // which bounds what it holds to one receive.
  if (connection.mode != kEchoMode || connection.pending.empty()) want |= EPOLLIN;
  if (!connection.pending.empty() || connection.source_left > 0) want |= EPOLLOUT;
  if (want == connection.interest) return;
  epoll_event event{};
  event.events = want;
  event.data.fd = connection.fd.get();
  ::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, connection.fd.get(), &event);
  connection.interest = want;
}

void LoadServer::CloseConnection(int fd) {
  ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
  connections_.erase(fd);
}

}  // namespace portwick::bench

#include "tcp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace portwick::testing {

namespace {

// 127.0.0.1 or ::1 at `port`; returns the length of the address.
socklen_t Loopback(bool ipv6, int port, sockaddr_storage* storage) {
  *storage = {};
  if (ipv6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(static_cast<uint16_t>(port));
    in6->sin6_addr = in6addr_loopback;
    return sizeof(sockaddr_in6);
  }
  auto* in4 = reinterpret_cast<sockaddr_in*>(storage);
  in4->sin_family = AF_INET;
  in4->sin_port = htons(static_cast<uint16_t>(port));
  in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sizeof(sockaddr_in);
}

int PortOf(const sockaddr_storage& storage) {
  return storage.ss_family == AF_INET6
             ? ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port)
             : ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

// Waits until `fd` is readable or `deadline` passes.
bool WaitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return false;
    pollfd pfd{fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(left.count()) + 1);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

TcpPeerServer::TcpPeerServer(Mode mode, bool ipv6) : mode_(mode) {
  listen_fd_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage address;
  socklen_t length = Loopback(ipv6, 0, &address);
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listen_fd_, 16) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;  // port() stays 0; the test fails on it
  }
  port_ = PortOf(address);
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

TcpPeerServer::~TcpPeerServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (int fd : fds_) shutdown(fd, SHUT_RDWR);
  }
  if (listen_fd_ >= 0) shutdown(listen_fd_, SHUT_RDWR);
  if (accept_thread_.joinable()) accept_thread_.join();
  for (std::thread& thread : threads_) thread.join();
  for (int fd : fds_) close(fd);
  if (listen_fd_ >= 0) close(listen_fd_);
}

void TcpPeerServer::AcceptLoop() {
  while (true) {
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    if (stopping_) {
      close(fd);
      return;
    }
    const size_t index = fds_.size();
    fds_.push_back(fd);
    endings_.push_back(Ending::kOpen);
    threads_.emplace_back([this, index, fd] { Serve(index, fd); });
  }
}

void TcpPeerServer::Serve(size_t index, int fd) {
  char buffer[16384];
  Ending ending = Ending::kClosed;
  while (true) {
    const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ending = (n < 0 && errno == ECONNRESET) ? Ending::kReset : Ending::kClosed;
      break;
    }
    if (mode_ == Mode::kEcho) {
      ssize_t sent = 0;
      while (sent < n) {
        const ssize_t m = send(fd, buffer + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
        if (m < 0 && errno == EINTR) continue;
        if (m <= 0) break;
        sent += m;
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_ += static_cast<size_t>(n);
    changed_.notify_all();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  endings_[index] = ending;
  changed_.notify_all();
}

bool TcpPeerServer::WaitForBytes(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return bytes_ >= count; });
}

TcpPeerServer::Ending TcpPeerServer::WaitForEnding(size_t index,
                                                   std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout,
                    [&] { return index < endings_.size() && endings_[index] != Ending::kOpen; });
  return index < endings_.size() ? endings_[index] : Ending::kOpen;
}

TcpClient::~TcpClient() {
  if (fd_ >= 0) close(fd_);
}

bool TcpClient::Connect(int port, bool ipv6) {
  fd_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage address;
  const socklen_t length = Loopback(ipv6, port, &address);
  return fd_ >= 0 && connect(fd_, reinterpret_cast<const sockaddr*>(&address), length) == 0;
}

bool TcpClient::SendAll(const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string TcpClient::Receive(size_t size, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string data;
  char buffer[16384];
  while (data.size() < size && WaitReadable(fd_, deadline)) {
    const ssize_t n = recv(fd_, buffer, std::min(sizeof(buffer), size - data.size()), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  return data;
}

TcpPeerServer::Ending TcpClient::WaitForEnd(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[16384];
  while (WaitReadable(fd_, deadline)) {
    const ssize_t n = recv(fd_, buffer, sizeof(buffer), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return TcpPeerServer::Ending::kClosed;
    if (n < 0) {
      return errno == ECONNRESET ? TcpPeerServer::Ending::kReset : TcpPeerServer::Ending::kClosed;
    }
  }
  return TcpPeerServer::Ending::kOpen;
}

}  // namespace portwick::testing

#include "test_server.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

#include "engine/socket_ops.h"
#include "socket_probes.h"

namespace portwick::testing {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point until) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// One read step: false when the read loop must stop (result->end says why).
bool ReadSome(SocketHandle fd, Clock::time_point until, std::string* out, StreamEnd* end,
              size_t limit = SIZE_MAX) {
  const int rc = WaitReadableFor(fd, RemainingMs(until));
  if (rc == -EINTR) return true;
  if (rc <= 0) {
    *end = StreamEnd::kTimeout;
    return false;
  }
  char buffer[65536];
  ssize_t n = sockets::Recv(fd, buffer, std::min(sizeof buffer, limit));
  if (n > 0) {
    out->append(buffer, static_cast<size_t>(n));
    return true;
  }
  *end = n == 0 ? StreamEnd::kEof : (n == -ECONNRESET ? StreamEnd::kReset : StreamEnd::kError);
  if (n == 0 && EndWasAReset(fd)) *end = StreamEnd::kReset;
  return false;
}

}  // namespace

Socket ConnectLoopback(int port) {
  return ConnectTo(Endpoint::LoopbackIPv4(static_cast<uint16_t>(port)));
}

Socket ConnectTo(const Endpoint& endpoint) {
  Socket s(sockets::CreateTcpSocket(endpoint.family()));
  if (!s.valid()) return s;
  if (sockets::Connect(s.fd(), endpoint) != 0) return Socket();
  return s;
}

bool HasIPv6Loopback() {
  Socket s(sockets::CreateTcpSocket(Endpoint::Family::kIPv6));
  return s.valid() && sockets::Bind(s.fd(), Endpoint::LoopbackIPv6(0)) == 0;
}

Socket BoundButNotListening(int* port) {
  Socket s(sockets::CreateTcpSocket());
  if (!s.valid() || sockets::BindLoopback(s.fd(), 0) != 0) return Socket();
  *port = sockets::LocalPort(s.fd());
  return s;
}

Socket StalledListener(int* port, std::vector<Socket>* fillers) {
  Socket listener(sockets::CreateTcpSocket());
  if (!listener.valid() || sockets::BindLoopback(listener.fd(), 0) != 0 ||
      sockets::Listen(listener.fd(), 0) != 0) {
    return Socket();
  }
  *port = sockets::LocalPort(listener.fd());
  for (int i = 0; i < 8; ++i) {
    Socket s(sockets::CreateTcpSocket());
    StartConnect(s.fd(), Endpoint::LoopbackIPv4(static_cast<uint16_t>(*port)));
    const bool completed = WaitWritableFor(s.fd(), 200) > 0;
    fillers->push_back(std::move(s));
    if (!completed) return listener;  // the queue is full now
  }
  return Socket();
}

TcpPair MakeTcpPair() {
  TestServer server;
  TcpPair pair;
  pair.near = ConnectLoopback(server.port());
  if (pair.near.valid()) pair.far = server.WaitAccept();
  return pair;
}

bool SendBytes(SocketHandle fd, std::string_view data) {
  return sockets::SendAll(fd, data.data(), data.size()) == 0;
}

ReadResult ReadExactly(SocketHandle fd, size_t count, std::chrono::milliseconds deadline) {
  ReadResult result;
  const auto until = Clock::now() + deadline;
  while (result.data.size() < count &&
         ReadSome(fd, until, &result.data, &result.end, count - result.data.size())) {
  }
  return result;
}

ReadResult ReadUntilEnd(SocketHandle fd, std::chrono::milliseconds deadline) {
  ReadResult result;
  const auto until = Clock::now() + deadline;
  while (ReadSome(fd, until, &result.data, &result.end)) {
  }
  return result;
}

std::string SendAndRead(SocketHandle from, SocketHandle to, std::string_view bytes,
                        std::chrono::milliseconds deadline) {
  if (!SendBytes(from, bytes)) return "";
  return ReadExactly(to, bytes.size(), deadline).data;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto until = Clock::now() + deadline;
  while (!condition()) {
    if (Clock::now() >= until) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::string PatternBytes(size_t count, unsigned seed) {
  std::string bytes(count, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < count; ++i) {
    x = x * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(x >> 24);
  }
  return bytes;
}

TestServer::TestServer(Handler handler, int backlog, const Endpoint& bind)
    : handler_(std::move(handler)) {
  listen_.Reset(sockets::CreateTcpSocket(bind.family()));
  if (!listen_.valid() || sockets::Bind(listen_.fd(), bind) != 0 ||
      sockets::Listen(listen_.fd(), backlog) != 0) {
    listen_.Reset();
    return;
  }
  port_ = sockets::LocalPort(listen_.fd());
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

TestServer::~TestServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (Socket& s : handled_) sockets::ShutdownBoth(s.fd());
  }
  if (listen_.valid()) {
    // Shutting the socket down wakes an accept that waits now. On Windows
    // an accept begun after it would wait for good: shut it down again until
    // the accept thread has ended.
    std::unique_lock<std::mutex> lock(mutex_);
    while (!accept_ended_) {
      sockets::ShutdownBoth(listen_.fd());
      accepted_cv_.wait_for(lock, std::chrono::milliseconds(10));
    }
  }
  if (accept_thread_.joinable()) accept_thread_.join();
  {
    // The accept thread is gone; no new handler can appear now.
    std::lock_guard<std::mutex> lock(mutex_);
    for (Socket& s : handled_) sockets::ShutdownBoth(s.fd());
  }
  for (std::thread& t : handler_threads_) t.join();
}

void TestServer::AcceptLoop() {
  while (true) {
    SocketHandle fd = sockets::Accept(listen_.fd());
    std::lock_guard<std::mutex> lock(mutex_);
    // A connection reset before it was accepted costs only itself (Wine
    // says "not connected" for it).
    if (fd == -ECONNABORTED || fd == -ECONNRESET || fd == -ENOTCONN) continue;
    if (fd < 0 || stopping_) {
      if (fd >= 0) sockets::Close(fd);
      accept_ended_ = true;
      accepted_cv_.notify_all();
      return;
    }
    ++accepted_count_;
    if (handler_) {
      handled_.emplace_back(fd);
      handler_threads_.emplace_back([this, fd] { handler_(fd); });
    } else {
      queue_.emplace_back(fd);
      accepted_cv_.notify_all();
    }
  }
}

Socket TestServer::WaitAccept(std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!accepted_cv_.wait_for(lock, deadline, [this] { return !queue_.empty(); })) return Socket();
  Socket s = std::move(queue_.front());
  queue_.pop_front();
  return s;
}

int TestServer::accepted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return accepted_count_;
}

void EchoHandler(SocketHandle fd) {
  char buffer[65536];
  while (true) {
    ssize_t n = sockets::Recv(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    if (sockets::SendAll(fd, buffer, static_cast<size_t>(n)) != 0) return;
  }
  sockets::ShutdownWrite(fd);
}

PeerServer::PeerServer(Mode mode, const Endpoint& bind)
    : mode_(mode), server_([this](SocketHandle fd) { Serve(fd); }, 64, bind) {}

void PeerServer::Serve(SocketHandle fd) {
  char buffer[65536];
  ssize_t n;
  while ((n = sockets::Recv(fd, buffer, sizeof buffer)) > 0) {
    if (mode_ == Mode::kEcho) sockets::SendAll(fd, buffer, static_cast<size_t>(n));
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_ += static_cast<size_t>(n);
    changed_.notify_all();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ends_.push_back(n == -ECONNRESET ? StreamEnd::kReset : StreamEnd::kEof);
  changed_.notify_all();
}

bool PeerServer::WaitForBytes(size_t count, std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, deadline, [&] { return bytes_ >= count; });
}

StreamEnd PeerServer::WaitForFirstEnd(std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!changed_.wait_for(lock, deadline, [&] { return !ends_.empty(); }))
    return StreamEnd::kTimeout;
  return ends_.front();
}

}  // namespace portwick::testing

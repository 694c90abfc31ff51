// The listener end to end over loopback: a client connects to the listener,
// which relays to a test server.

#include "engine/proxy_listener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/descriptor_limit.h"
#include "engine/log_sink_handle.h"
#include "engine/socket_io.h"
#include "engine/socket_layer.h"
#include "engine/socket_ops.h"
#include "listener_seams.h"
#include "recording_sink.h"
#include "socket_probes.h"
#include "test_server.h"

namespace portwick {
namespace {

using testing::ConnectLoopback;
using testing::EchoHandler;
using testing::HandledSink;
using testing::PatternBytes;
using testing::ReadExactly;
using testing::ReadResult;
using testing::ReadUntilEnd;
using testing::RecordingSink;
using testing::SendAndRead;
using testing::SendBytes;
using testing::StreamEnd;
using testing::TestServer;

constexpr int32_t kBuf = 10384;

class ProxyListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Sessions of earlier tests end on their own threads after Stop.
    ASSERT_TRUE(testing::WaitUntil([] { return SocketLayer::LiveRegistrations() == 0; }));
  }

  // Starts the listener on an ephemeral port towards 127.0.0.1:port.
  void StartTowards(int port) {
    std::string error;
    ASSERT_TRUE(listener_.Start(0, "127.0.0.1", port, &error)) << error;
    ASSERT_GT(listener_.BoundPort(), 0);
  }
  Socket Connect() { return ConnectLoopback(listener_.BoundPort()); }

  ProxyListener listener_;
};

TEST_F(ProxyListenerTest, BurstsLargerThanTheBufferArriveWholeAndLoggedInRecords) {
  TestServer echo(EchoHandler);
  HandledSink logged;
  RecordingSink& sink = logged.sink();
  listener_.SetLogSink(logged.handle());
  StartTowards(echo.port());

  Socket client = Connect();
  const std::string burst = PatternBytes(25000);
  ASSERT_EQ(SendAndRead(client.fd(), client.fd(), burst), burst);

  // Each record is logged before it is sent on, so all are there now.
  EXPECT_EQ(sink.total_bytes(), 2 * burst.size());
  for (const std::string& record : sink.records()) {
    EXPECT_LE(record.size(), static_cast<size_t>(kBuf));
    EXPECT_GT(record.size(), 0u);
  }
  EXPECT_EQ(sink.missing_terminators(), 0);
}

TEST_F(ProxyListenerTest, RelaysBothDirectionsIncludingZeroBytes) {
  TestServer server;
  StartTowards(server.port());
  Socket client = Connect();
  Socket destination = server.WaitAccept();
  ASSERT_TRUE(destination.valid());

  const std::string greeting("hi\0there\0", 9);
  ASSERT_EQ(SendAndRead(destination.fd(), client.fd(), greeting), greeting);
  const std::string request("\0\0req\0", 6);
  ASSERT_EQ(SendAndRead(client.fd(), destination.fd(), request), request);
}

TEST_F(ProxyListenerTest, LargeTransferArrivesIntact) {
  constexpr size_t kChunk = 1 << 20;
  constexpr size_t kChunks = 64;  // 64 MiB
  constexpr size_t kShift = 4099;
  // Chunk i is the window of `base` starting at i * kShift, so no two chunks
  // are alike and a lost, repeated or reordered piece can't go unnoticed.
  const std::string base = PatternBytes(kChunk + kChunks * kShift);
  auto expected_at = [&](size_t position) {
    return base.data() + (position / kChunk) * kShift + position % kChunk;
  };
  TestServer server;
  StartTowards(server.port());
  Socket client = Connect();
  Socket destination = server.WaitAccept();
  ASSERT_TRUE(destination.valid());

  std::thread sender([&] {
    for (size_t i = 0; i < kChunks; ++i) {
      if (!SendBytes(client.fd(), std::string_view(base).substr(i * kShift, kChunk))) break;
    }
    sockets::ShutdownWrite(client.fd());
  });
  size_t received = 0;
  size_t first_mismatch = SIZE_MAX;
  std::vector<char> buffer(1 << 16);
  while (true) {
    const ssize_t n = sockets::Recv(destination.fd(), buffer.data(), buffer.size());
    if (n <= 0) break;
    // Compare piecewise: a receive may span two chunks.
    for (size_t done = 0; done < static_cast<size_t>(n);) {
      const size_t position = received + done;
      const size_t piece = std::min(static_cast<size_t>(n) - done, kChunk - position % kChunk);
      if (first_mismatch == SIZE_MAX && position + piece <= kChunk * kChunks &&
          std::memcmp(buffer.data() + done, expected_at(position), piece) != 0) {
        first_mismatch = position;
      }
      done += piece;
    }
    received += static_cast<size_t>(n);
  }
  sender.join();
  EXPECT_EQ(received, kChunk * kChunks);
  EXPECT_EQ(first_mismatch, SIZE_MAX);
}

TEST_F(ProxyListenerTest, ConcurrentClientsGetIndependentSessions) {
  constexpr int kClients = 8;
  TestServer echo(EchoHandler);
  StartTowards(echo.port());
  std::vector<std::thread> clients;
  std::atomic<int> intact{0};
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      Socket client = Connect();
      const std::string data = PatternBytes(40000, static_cast<unsigned>(100 + i));
      if (SendBytes(client.fd(), data) && ReadExactly(client.fd(), data.size()).data == data) {
        ++intact;
      }
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(intact.load(), kClients);
  EXPECT_EQ(echo.accepted(), kClients);
}

TEST_F(ProxyListenerTest, EachPeersCloseReachesTheOtherAndEndsTheSession) {
  TestServer server;
  StartTowards(server.port());
  for (const bool client_closes_first : {true, false}) {
    SCOPED_TRACE(client_closes_first ? "client closes" : "destination closes");
    Socket client = Connect();
    Socket destination = server.WaitAccept();
    ASSERT_TRUE(destination.valid());
    Socket& first = client_closes_first ? client : destination;
    Socket& second = client_closes_first ? destination : client;

    ASSERT_TRUE(SendBytes(first.fd(), "last words"));
    first.Reset();
    ReadResult rest = ReadUntilEnd(second.fd());
    EXPECT_EQ(rest.data, "last words");
    EXPECT_EQ(rest.end, StreamEnd::kEof);
    second.Reset();
    EXPECT_TRUE(testing::WaitUntil([this] { return listener_.SessionCount() == 0; }));
  }
}

TEST_F(ProxyListenerTest, HalfCloseRoundTripDeliversTheWholeReply) {
  TestServer echo(EchoHandler);
  StartTowards(echo.port());
  Socket client = Connect();
  const std::string request = PatternBytes(30000, 9);
  ASSERT_TRUE(SendBytes(client.fd(), request));
  // The client is done sending but still reads: the echo server sees the
  // end only after the request, and answers before it ends its side.
  ASSERT_EQ(sockets::ShutdownWrite(client.fd()), 0);
  ReadResult reply = ReadUntilEnd(client.fd());
  EXPECT_EQ(reply.data, request);
  EXPECT_EQ(reply.end, StreamEnd::kEof);
}

TEST_F(ProxyListenerTest, FailedSetUpClosesTheClientAndTheListenerKeepsAccepting) {
  int refused_port = 0;
  Socket not_listening = testing::BoundButNotListening(&refused_port);
  ASSERT_TRUE(not_listening.valid());
  struct Destination {
    const char* name;
    std::string host;
    int port;
  };
  // "no such host" is not a valid name, so resolving it fails without any
  // lookup leaving the machine.
  const Destination cases[] = {{"unresolvable", "no such host", 80},
                               {"refused", "127.0.0.1", refused_port}};
  for (const Destination& d : cases) {
    SCOPED_TRACE(d.name);
    ProxyListener listener;
    std::string error;
    ASSERT_TRUE(listener.Start(0, d.host, d.port, &error)) << error;
    for (int attempt = 0; attempt < 2; ++attempt) {
      Socket client = ConnectLoopback(listener.BoundPort());
      ASSERT_TRUE(client.valid());
      ReadResult result = ReadUntilEnd(client.fd());
      EXPECT_EQ(result.data, "");
      EXPECT_EQ(result.end, StreamEnd::kEof);
    }
    EXPECT_TRUE(listener.IsRunning());
  }
}

TEST_F(ProxyListenerTest, StartOnABusyPortFailsWithTheReason) {
  TestServer occupant;
  std::string error;
  // The system's text for the error: the C library's on POSIX, Winsock's
  // on Windows.
#if defined(_WIN32)
  const std::string in_use = sockets::ErrorText(EADDRINUSE);
#else
  const std::string in_use = "Address already in use";
#endif
  EXPECT_FALSE(listener_.Start(occupant.port(), "127.0.0.1", 1, &error));
  EXPECT_NE(error.find(in_use), std::string::npos) << error;
  EXPECT_FALSE(listener_.IsRunning());
  EXPECT_EQ(listener_.BoundPort(), 0);

  // The status names the step and carries the system's error, so callers
  // never read the text.
  ListenerConfig config;
  config.bind = Endpoint::LoopbackIPv4(static_cast<uint16_t>(occupant.port()));
  const Status status = listener_.Start(config);
  EXPECT_EQ(status.step(), "bind");
  EXPECT_EQ(status.error_number(), EADDRINUSE);
  EXPECT_EQ(status.reason(), in_use);
  EXPECT_FALSE(listener_.IsRunning());
}

TEST_F(ProxyListenerTest, StartWhileRunningIsRefusedAndTheRunningListenerGoesOn) {
  TestServer first(EchoHandler);
  TestServer second(EchoHandler);
  StartTowards(first.port());
  const int port = listener_.BoundPort();
  std::string error;
  EXPECT_FALSE(listener_.Start(0, "127.0.0.1", second.port(), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(listener_.IsRunning());
  EXPECT_EQ(listener_.BoundPort(), port);

  Socket client = Connect();
  ASSERT_EQ(SendAndRead(client.fd(), client.fd(), "ping"), "ping");
  EXPECT_EQ(first.accepted(), 1);
  EXPECT_EQ(second.accepted(), 0);
}

TEST_F(ProxyListenerTest, StopResetsOpenSessionsOnBothSides) {
  TestServer server;
  StartTowards(server.port());
  const int port = listener_.BoundPort();
  Socket client = Connect();
  Socket destination = server.WaitAccept();
  ASSERT_TRUE(destination.valid());
  ASSERT_EQ(SendAndRead(client.fd(), destination.fd(), "x"), "x");

  listener_.Stop();
  EXPECT_FALSE(listener_.IsRunning());
  EXPECT_EQ(listener_.BoundPort(), 0);
  EXPECT_EQ(ReadUntilEnd(client.fd()).end, StreamEnd::kReset);
  EXPECT_EQ(ReadUntilEnd(destination.fd()).end, StreamEnd::kReset);
  EXPECT_FALSE(ConnectLoopback(port).valid());
  listener_.Stop();  // stopping again changes nothing
  EXPECT_FALSE(listener_.IsRunning());
}

TEST_F(ProxyListenerTest, StopResetsOnlyTheSessionsOfItsOwnListener) {
  TestServer server;
  for (const bool stop_first : {true, false}) {
    SCOPED_TRACE(stop_first ? "first stopped first" : "second stopped first");
    ProxyListener listeners[2];
    Socket clients[2];
    Socket destinations[2];
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(listeners[i].Start(0, "127.0.0.1", server.port()));
      clients[i] = ConnectLoopback(listeners[i].BoundPort());
      destinations[i] = server.WaitAccept();
      ASSERT_TRUE(destinations[i].valid());
    }
    const int stopped = stop_first ? 0 : 1;
    const int running = 1 - stopped;
    listeners[stopped].Stop();
    EXPECT_EQ(ReadUntilEnd(clients[stopped].fd()).end, StreamEnd::kReset);
    EXPECT_EQ(ReadUntilEnd(destinations[stopped].fd()).end, StreamEnd::kReset);
    EXPECT_TRUE(testing::WaitUntil([&] { return listeners[stopped].SessionCount() == 0; }));

    // The other listener's session goes on both ways.
    EXPECT_EQ(listeners[running].SessionCount(), 1);
    ASSERT_TRUE(SendBytes(clients[running].fd(), "still"));
    EXPECT_EQ(ReadExactly(destinations[running].fd(), 5).data, "still");
    ASSERT_TRUE(SendBytes(destinations[running].fd(), "here"));
    EXPECT_EQ(ReadExactly(clients[running].fd(), 4).data, "here");

    listeners[running].Stop();
    EXPECT_EQ(ReadUntilEnd(clients[running].fd()).end, StreamEnd::kReset);
  }
}

// The real socket calls, except that the first `failures` accepts fail
// with `error` without taking a connection from the queue.
class FailingAcceptIo : public testing::PassThroughIo {
 public:
  FailingAcceptIo(int error, int failures) : error_(error), failures_left_(failures) {}
  SocketHandle Accept(SocketHandle listen_fd, Endpoint* peer) override {
    if (failures_left_.fetch_sub(1) > 0) {
      ++failed_;
      return -error_;
    }
    return SocketIo::Default().Accept(listen_fd, peer);
  }
  int failed() const { return failed_.load(); }

 private:
  const int error_;
  std::atomic<int> failures_left_;
  std::atomic<int> failed_{0};
};

// Stops a listener at the end of a scope, before the seams it uses go.
// Stops the listener and waits until its sessions have ended: declared after
// the test's own SocketIo, it keeps that alive for as long as a relay thread
// may still call it.
struct StopAtScopeEnd {
  ProxyListener& listener;
  ~StopAtScopeEnd() {
    listener.Stop();
    EXPECT_TRUE(testing::WaitUntil([] { return SocketLayer::LiveRegistrations() == 0; }));
  }
};

// Calls of the descriptor limit's handler.
std::atomic<int> limit_reports{0};

TEST_F(ProxyListenerTest, AcceptPausesWhenResourcesRunOutAndThenGoesOn) {
  TestServer echo(EchoHandler);
  // Reached six times below (EMFILE and ENFILE, three times each): said once.
  descriptor_limit::SetReachedHandler([](int, long) { limit_reports.fetch_add(1); });
  const uint64_t reached_before = descriptor_limit::TimesReached();
  struct Case {
    const char* name;
    int error;
  };
  const Case cases[] = {
      {"EMFILE", EMFILE}, {"ENFILE", ENFILE}, {"ENOBUFS", ENOBUFS}, {"ENOMEM", ENOMEM}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FailingAcceptIo io(c.error, 3);
    StopAtScopeEnd stop{listener_};
    ASSERT_TRUE(listener_.Start(testing::LoopbackForward(echo.port(), &io)).ok());
    Socket client = Connect();
    ASSERT_EQ(SendAndRead(client.fd(), client.fd(), "after"), "after");
    EXPECT_EQ(io.failed(), 3);
    EXPECT_TRUE(listener_.IsRunning());
    client.Reset();
    listener_.Stop();  // before `io` goes
    ASSERT_TRUE(testing::WaitUntil([this] { return listener_.SessionCount() == 0; }));
  }
  descriptor_limit::SetReachedHandler(nullptr);
  EXPECT_GE(descriptor_limit::TimesReached() - reached_before, 6u);
  EXPECT_EQ(limit_reports.load(), 1) << "the limit is said once";
}

// The socket of this process with the given ends, or kInvalidSocket.
SocketHandle FindSocket(const Endpoint& local, const Endpoint& peer) {
  for (const SocketHandle fd : testing::OpenSockets()) {
    Endpoint fd_local;
    Endpoint fd_peer;
    if (sockets::LocalEndpoint(fd, &fd_local) == 0 && sockets::PeerEndpoint(fd, &fd_peer) == 0 &&
        fd_local == local && fd_peer == peer) {
      return fd;
    }
  }
  return kInvalidSocket;
}

TEST_F(ProxyListenerTest, BothSocketsOfASessionSendWithoutNagleDelay) {
  TestServer server;
  StartTowards(server.port());
  Socket client = Connect();
  Socket destination = server.WaitAccept();
  ASSERT_TRUE(destination.valid());
  // Relaying has begun, so the session is fully set up.
  ASSERT_EQ(SendAndRead(client.fd(), destination.fd(), "x"), "x");

  Endpoint client_end, client_peer, destination_end, destination_peer;
  ASSERT_EQ(sockets::LocalEndpoint(client.fd(), &client_end), 0);
  ASSERT_EQ(sockets::PeerEndpoint(client.fd(), &client_peer), 0);
  ASSERT_EQ(sockets::LocalEndpoint(destination.fd(), &destination_end), 0);
  ASSERT_EQ(sockets::PeerEndpoint(destination.fd(), &destination_peer), 0);
  // The forwarder's two sockets: the accepted one and the outgoing one.
  const SocketHandle sockets_of_session[] = {FindSocket(client_peer, client_end),
                                             FindSocket(destination_peer, destination_end)};
  for (const SocketHandle fd : sockets_of_session) {
    ASSERT_GE(fd, 0);
    EXPECT_EQ(testing::NoDelayIsSet(fd), true) << "descriptor " << fd;
  }
}

// The real socket calls, except that Accept waits until Open.
class GatedAcceptIo : public testing::PassThroughIo {
 public:
  SocketHandle Accept(SocketHandle listen_fd, Endpoint* peer) override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      open_cv_.wait(lock, [this] { return open_; });
    }
    return SocketIo::Default().Accept(listen_fd, peer);
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    open_cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable open_cv_;
  bool open_ = false;
};

// Connects `count` non-blocking clients to `port` at once.
std::vector<Socket> StartConnects(int port, int count) {
  std::vector<Socket> clients;
  const Endpoint to = Endpoint::LoopbackIPv4(static_cast<uint16_t>(port));
  for (int i = 0; i < count; ++i) {
    Socket s(sockets::CreateTcpSocket());
    if (!s.valid() || !testing::StartConnect(s.fd(), to)) break;
    clients.push_back(std::move(s));
  }
  return clients;
}

TEST_F(ProxyListenerTest, ConnectsWaitInTheQueueWhileTheAcceptThreadIsBusy) {
  constexpr int kClients = 100;
  TestServer echo(EchoHandler, sockets::kMaxBacklog);
  GatedAcceptIo io;
  StopAtScopeEnd stop{listener_};
  struct OpenAtScopeEnd {
    GatedAcceptIo& io;
    ~OpenAtScopeEnd() { io.Open(); }
  } open{io};
  ASSERT_TRUE(listener_.Start(testing::LoopbackForward(echo.port(), &io)).ok());

  // Nothing is accepted yet, so every connect that completes waits in the
  // listening socket's queue; a short queue drops the rest.
  std::vector<Socket> clients = StartConnects(listener_.BoundPort(), kClients);
  ASSERT_EQ(clients.size(), static_cast<size_t>(kClients));
  EXPECT_TRUE(testing::WaitUntil([&] {
    return std::all_of(clients.begin(), clients.end(),
                       [](const Socket& c) { return testing::WaitWritableFor(c.fd(), 0) > 0; });
  }));
  io.Open();
  for (Socket& c : clients) {
    testing::SetBlocking(c.fd());
    ASSERT_EQ(SendAndRead(c.fd(), c.fd(), "q"), "q");
  }
}

TEST_F(ProxyListenerTest, BurstOfSimultaneousConnectsIsServedInFull) {
  constexpr int kClients = 200;
  TestServer echo(EchoHandler, sockets::kMaxBacklog);
  StartTowards(echo.port());
  // Every connect is under way before the first is accepted.
  std::vector<Socket> clients = StartConnects(listener_.BoundPort(), kClients);
  ASSERT_EQ(clients.size(), static_cast<size_t>(kClients));
  for (Socket& s : clients) testing::SetBlocking(s.fd());
  // Each client's byte comes back only through a session of its own.
  int served = 0;
  const auto until = std::chrono::steady_clock::now() + testing::kDeadline;
  for (int i = 0; i < kClients; ++i) {
    const std::string byte(1, static_cast<char>(i));
    if (!SendBytes(clients[static_cast<size_t>(i)].fd(), byte)) continue;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (ReadExactly(clients[static_cast<size_t>(i)].fd(), 1, left).data == byte) ++served;
  }
  EXPECT_EQ(served, kClients);
  EXPECT_EQ(echo.accepted(), kClients);
}

TEST_F(ProxyListenerTest, StopFailsAConnectorStillConnecting) {
  int port = 0;
  std::vector<Socket> fillers;
  Socket stalled = testing::StalledListener(&port, &fillers);
  ASSERT_TRUE(stalled.valid());
  StartTowards(port);
  Socket client = Connect();
  ASSERT_TRUE(client.valid());
  // The connector registers its session before it connects.
  ASSERT_TRUE(testing::WaitUntil([this] { return listener_.SessionCount() == 1; }));
  listener_.Stop();
  // Without the reset the connect would go on retrying for minutes.
  ReadResult result = ReadUntilEnd(client.fd(), std::chrono::seconds(5));
  EXPECT_NE(result.end, StreamEnd::kTimeout);
  EXPECT_EQ(result.data, "");
}

TEST_F(ProxyListenerTest, StartAfterStopOnTheSamePortUsesTheNewSettings) {
  TestServer old_destination;
  TestServer new_destination;
  StartTowards(old_destination.port());
  const int port = listener_.BoundPort();
  {
    Socket client = Connect();
    ASSERT_TRUE(old_destination.WaitAccept().valid());
  }
  listener_.Stop();

  std::string error;
  ASSERT_TRUE(listener_.Start(port, "localhost", new_destination.port(), &error)) << error;
  EXPECT_EQ(listener_.BoundPort(), port);
  Socket client = Connect();
  Socket destination = new_destination.WaitAccept();
  ASSERT_TRUE(destination.valid());
  ASSERT_EQ(SendAndRead(client.fd(), destination.fd(), "new"), "new");
  EXPECT_EQ(old_destination.accepted(), 1);
}

TEST_F(ProxyListenerTest, DestroyingARunningListenerEndsItsSessions) {
  TestServer server;
  auto listener = std::make_unique<ProxyListener>();
  ASSERT_TRUE(listener->Start(0, "127.0.0.1", server.port()));
  Socket client = ConnectLoopback(listener->BoundPort());
  Socket destination = server.WaitAccept();
  ASSERT_TRUE(destination.valid());
  listener.reset();
  EXPECT_EQ(ReadUntilEnd(client.fd()).end, StreamEnd::kReset);
  EXPECT_EQ(ReadUntilEnd(destination.fd()).end, StreamEnd::kReset);
}

TEST_F(ProxyListenerTest, DetachedSinkEndsTheSessionInsteadOfForwardingUnlogged) {
  TestServer server;
  HandledSink logged;
  RecordingSink& sink = logged.sink();
  const std::shared_ptr<LogSinkHandle>& handle = logged.handle();
  listener_.SetLogSink(handle);
  StartTowards(server.port());
  Socket client = Connect();
  Socket destination = server.WaitAccept();
  ASSERT_TRUE(destination.valid());
  ASSERT_EQ(SendAndRead(client.fd(), destination.fd(), "logged"), "logged");

  handle->Detach(nullptr);
  ASSERT_TRUE(SendBytes(client.fd(), "unlogged"));
  ReadResult rest = ReadUntilEnd(destination.fd());
  EXPECT_EQ(rest.data, "");
  EXPECT_EQ(rest.end, StreamEnd::kReset);
  EXPECT_EQ(ReadUntilEnd(client.fd()).end, StreamEnd::kReset);
  EXPECT_EQ(sink.records(), std::vector<std::string>{"logged"});
}

TEST_F(ProxyListenerTest, SessionsKeepTheSinkTheyWereAcceptedWith) {
  TestServer echo(EchoHandler);
  HandledSink first;
  HandledSink second;
  RecordingSink& first_sink = first.sink();
  RecordingSink& second_sink = second.sink();
  listener_.SetLogSink(first.handle());
  StartTowards(echo.port());
  Socket early = Connect();
  ASSERT_EQ(SendAndRead(early.fd(), early.fd(), "a"), "a");

  listener_.SetLogSink(second.handle());
  Socket late = Connect();
  ASSERT_EQ(SendAndRead(late.fd(), late.fd(), "b"), "b");
  ASSERT_EQ(SendAndRead(early.fd(), early.fd(), "c"), "c");

  EXPECT_EQ(first_sink.records(), (std::vector<std::string>{"a", "a", "c", "c"}));
  EXPECT_EQ(second_sink.records(), (std::vector<std::string>{"b", "b"}));
}

}  // namespace
}  // namespace portwick

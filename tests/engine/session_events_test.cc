// What a listener run reports to its observer: every session's events in
// order and complete, the bytes exactly as relayed, and how each session
// ended.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/proxy_listener.h"
#include "engine/socket_layer.h"
#include "engine/socket_ops.h"
#include "listener_seams.h"
#include "recording_observer.h"
#include "recording_sink.h"
#include "test_server.h"

namespace portwick {
namespace {

using testing::kDeadline;
using testing::ObservedSession;
using testing::ReadExactly;
using testing::ReadUntilEnd;
using testing::RecordingObserver;
using testing::SendAndRead;
using testing::SendBytes;
using testing::TestServer;

class SessionEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::WaitUntil([] { return SocketLayer::LiveRegistrations() == 0; }));
  }

  // Starts the listener on 127.0.0.1 towards `host`:`port`.
  void Start(const std::string& host, int port, std::shared_ptr<LogSinkHandle> sink = nullptr) {
    ListenerConfig config = testing::LoopbackForward(port);
    config.destination_host = host;
    config.log_sink = std::move(sink);
    config.observer = observer_;
    const Status status = listener_.Start(config);
    ASSERT_TRUE(status.ok()) << status.Message();
  }
  Socket Connect() { return testing::ConnectLoopback(listener_.BoundPort()); }

  // The one session reported once it has closed.
  ObservedSession OnlySession() {
    EXPECT_TRUE(observer_->WaitForClosed(1, kDeadline));
    const std::map<SessionId, ObservedSession> sessions = observer_->sessions();
    EXPECT_EQ(sessions.size(), 1u);
    return sessions.empty() ? ObservedSession() : sessions.begin()->second;
  }

  std::shared_ptr<RecordingObserver> observer_ = std::make_shared<RecordingObserver>();
  ProxyListener listener_;
};

Endpoint LocalEndpointOf(const Socket& socket) {
  Endpoint endpoint;
  EXPECT_EQ(sockets::LocalEndpoint(socket.fd(), &endpoint), 0);
  return endpoint;
}

// The events of a session that relayed both ways and ended: opened and
// connected first, closed last and once, no chunk of a direction after its
// half-close.
void ExpectWellFormed(const ObservedSession& s) {
  ASSERT_GE(s.events.size(), 3u);
  EXPECT_EQ(s.events[0], "opened");
  EXPECT_EQ(s.events[1], "connected");
  EXPECT_EQ(s.events.back(), "closed");
  EXPECT_EQ(s.closed.size(), 1u);
  for (const char* direction : {">", "<"}) {
    const auto half_close =
        std::find(s.events.begin(), s.events.end(), std::string("half-close ") + direction);
    EXPECT_EQ(std::find(half_close, s.events.end(), std::string("chunk ") + direction),
              s.events.end())
        << "a chunk after the half-close " << direction;
  }
  for (const auto* times : {&s.up_times, &s.down_times}) {
    EXPECT_TRUE(std::is_sorted(
        times->begin(), times->end(),
        [](const EventTime& a, const EventTime& b) { return a.monotonic < b.monotonic; }));
    if (!times->empty()) {
      EXPECT_GE(times->front().monotonic, s.opened->time.monotonic);
      EXPECT_LE(times->back().monotonic, s.closed.front().time.monotonic);
    }
  }
}

class ConcurrentSessionEventsTest : public SessionEventsTest,
                                    public ::testing::WithParamInterface<bool> {};

TEST_P(ConcurrentSessionEventsTest, EverySessionReportsItsEventsInOrderAndItsBytesExactly) {
  constexpr int kClients = 16;
  const bool wants_chunks = GetParam();
  observer_ = std::make_shared<RecordingObserver>(wants_chunks);
  TestServer echo(testing::EchoHandler);
  Start("127.0.0.1", echo.port());

  // Each client sends its own bytes in pieces, reads them back, then ends
  // its side and reads until the echo server has ended too.
  std::vector<std::string> data(kClients);
  std::vector<Endpoint> client_endpoints(kClients);
  std::atomic<int> intact{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    data[static_cast<size_t>(i)] =
        testing::PatternBytes(20000 + 997 * static_cast<size_t>(i), static_cast<unsigned>(i + 1));
    clients.emplace_back([&, i] {
      const std::string& bytes = data[static_cast<size_t>(i)];
      Socket client = Connect();
      client_endpoints[static_cast<size_t>(i)] = LocalEndpointOf(client);
      std::string back;
      for (size_t at = 0; at < bytes.size(); at += 4096) {
        const std::string piece = bytes.substr(at, 4096);
        if (!SendBytes(client.fd(), piece)) return;
        back += ReadExactly(client.fd(), piece.size()).data;
      }
      sockets::ShutdownWrite(client.fd());
      if (back == bytes && ReadUntilEnd(client.fd()).end == testing::StreamEnd::kEof) ++intact;
    });
  }
  for (std::thread& t : clients) t.join();
  ASSERT_EQ(intact.load(), kClients);
  ASSERT_TRUE(observer_->WaitForClosed(kClients, kDeadline));

  const std::map<SessionId, ObservedSession> sessions = observer_->sessions();
  ASSERT_EQ(sessions.size(), static_cast<size_t>(kClients));
  EXPECT_EQ(sessions.begin()->first, 1u);
  EXPECT_EQ(sessions.rbegin()->first, static_cast<SessionId>(kClients));
  std::set<size_t> matched;
  for (const auto& [id, s] : sessions) {
    SCOPED_TRACE("session " + std::to_string(id));
    ExpectWellFormed(s);
    ASSERT_TRUE(s.opened && s.connected);
    const auto client =
        std::find(client_endpoints.begin(), client_endpoints.end(), s.opened->client);
    ASSERT_NE(client, client_endpoints.end()) << s.opened->client.ToString();
    const size_t index = static_cast<size_t>(client - client_endpoints.begin());
    matched.insert(index);
    const std::string& bytes = data[index];

    EXPECT_EQ(s.opened->listener, listener_.BoundEndpoint());
    EXPECT_EQ(s.connected->destination, Endpoint::LoopbackIPv4(static_cast<uint16_t>(echo.port())));
    EXPECT_EQ(s.connected->local.AddressText(), "127.0.0.1");
    EXPECT_NE(s.connected->local.port(), 0);
    EXPECT_GE(s.connected->took.count(), 0);
    EXPECT_EQ(std::count(s.events.begin(), s.events.end(), "half-close >"), 1);
    EXPECT_EQ(std::count(s.events.begin(), s.events.end(), "half-close <"), 1);
    if (wants_chunks) {
      EXPECT_TRUE(s.up == bytes);
      EXPECT_TRUE(s.down == bytes);
    } else {
      EXPECT_EQ(s.up_times.size() + s.down_times.size(), 0u);
    }
    const SessionClosed& closed = s.closed.front();
    EXPECT_EQ(closed.how, CloseReason::kBothFinished);
    EXPECT_TRUE(closed.error.ok()) << closed.error.Message();
    EXPECT_EQ(closed.bytes_up, bytes.size());
    EXPECT_EQ(closed.bytes_down, bytes.size());
    EXPECT_GE(closed.duration, s.connected->took);
  }
  EXPECT_EQ(matched.size(), static_cast<size_t>(kClients));
}

INSTANTIATE_TEST_SUITE_P(Chunks, ConcurrentSessionEventsTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& test) {
                           return test.param ? "WithChunks" : "WithoutChunks";
                         });

// Notes, as each half-close is reported, whether the peer it goes to can
// already read the end of the stream.
class PeekingObserver : public RecordingObserver {
 public:
  using RecordingObserver::RecordingObserver;
  void OnHalfClosed(const SessionHalfClosed& event) override {
    const bool up = event.direction == Direction::kClientToServer;
    if (testing::EndOfStreamIsReadable(up ? server_fd.load() : client_fd.load())) {
      ++passed_on_before_reported;
    }
    RecordingObserver::OnHalfClosed(event);
  }
  std::atomic<SocketHandle> client_fd{kInvalidSocket};
  std::atomic<SocketHandle> server_fd{kInvalidSocket};
  std::atomic<int> passed_on_before_reported{0};
};

// Copying (chunks wanted) and spliced (no chunks wanted).
TEST_P(ConcurrentSessionEventsTest, HalfClosesAreReportedBeforeThePeerSeesThem) {
  auto observer = std::make_shared<PeekingObserver>(GetParam());
  observer_ = observer;
  TestServer server;
  Start("127.0.0.1", server.port());
  Socket client = Connect();
  Socket destination = server.WaitAccept();
  ASSERT_TRUE(destination.valid());
  observer->client_fd = client.fd();
  observer->server_fd = destination.fd();
  // The server answers the client's end with its own at once.
  sockets::ShutdownWrite(client.fd());
  EXPECT_EQ(ReadUntilEnd(destination.fd()).end, testing::StreamEnd::kEof);
  sockets::ShutdownWrite(destination.fd());
  EXPECT_EQ(ReadUntilEnd(client.fd()).end, testing::StreamEnd::kEof);

  const ObservedSession s = OnlySession();
  EXPECT_EQ(s.events, (std::vector<std::string>{"opened", "connected", "half-close >",
                                                "half-close <", "closed"}));
  EXPECT_EQ(observer->passed_on_before_reported.load(), 0);
  EXPECT_EQ(s.closed.front().how, CloseReason::kBothFinished);
}

struct EndingCase {
  const char* name;
  // Ends the session once both peers hold their sockets and one round trip
  // went through.
  void (*end)(Socket& client, Socket& server, ProxyListener& listener, LogSinkHandle& sink);
  CloseReason how;
  const char* step;  // of SessionClosed::error; "" when ok
};

void PrintTo(const EndingCase& c, std::ostream* os) { *os << c.name; }

class SessionEndingTest : public SessionEventsTest,
                          public ::testing::WithParamInterface<EndingCase> {};

TEST_P(SessionEndingTest, ClosedSaysHowTheSessionEnded) {
  const EndingCase& c = GetParam();
  TestServer server;
  testing::HandledSink logged;
  Start("127.0.0.1", server.port(), logged.handle());
  Socket client = Connect();
  Socket destination = server.WaitAccept();
  ASSERT_TRUE(destination.valid());
  ASSERT_EQ(SendAndRead(client.fd(), destination.fd(), "ping"), "ping");
  ASSERT_EQ(SendAndRead(destination.fd(), client.fd(), "pong!"), "pong!");

  c.end(client, destination, listener_, *logged.handle());

  const ObservedSession s = OnlySession();
  ASSERT_EQ(s.closed.size(), 1u);
  EXPECT_EQ(s.events.back(), "closed");
  const SessionClosed& closed = s.closed.front();
  EXPECT_EQ(closed.how, c.how);
  EXPECT_EQ(closed.error.step(), c.step) << closed.error.Message();
  EXPECT_EQ(closed.bytes_up, 4u);
  EXPECT_EQ(closed.bytes_down, 5u);
  EXPECT_EQ(s.up, "ping");
  EXPECT_EQ(s.down, "pong!");
}

INSTANTIATE_TEST_SUITE_P(
    Endings, SessionEndingTest,
    ::testing::Values(
        EndingCase{"BothFinished",
                   [](Socket& client, Socket& server, ProxyListener&, LogSinkHandle&) {
                     sockets::ShutdownWrite(client.fd());
                     ReadUntilEnd(server.fd());
                     sockets::ShutdownWrite(server.fd());
                     ReadUntilEnd(client.fd());
                   },
                   CloseReason::kBothFinished, ""},
        EndingCase{"ClientReset",
                   [](Socket& client, Socket&, ProxyListener&, LogSinkHandle&) {
                     sockets::ResetConnection(client.fd());
                   },
                   CloseReason::kResetByClient, "recv"},
        EndingCase{"ServerReset",
                   [](Socket&, Socket& server, ProxyListener&, LogSinkHandle&) {
                     sockets::ResetConnection(server.fd());
                   },
                   CloseReason::kResetByServer, "recv"},
        EndingCase{"ServerResetAfterTheClientFinished",
                   [](Socket& client, Socket& server, ProxyListener&, LogSinkHandle&) {
                     sockets::ShutdownWrite(client.fd());
                     ReadUntilEnd(server.fd());
                     sockets::ResetConnection(server.fd());
                   },
                   CloseReason::kResetByServer, "recv"},
        EndingCase{
            "ListenerStopped",
            [](Socket&, Socket&, ProxyListener& listener, LogSinkHandle&) { listener.Stop(); },
            CloseReason::kStopped, ""},
        EndingCase{"LogSinkReleased",
                   [](Socket& client, Socket&, ProxyListener&, LogSinkHandle& sink) {
                     sink.Detach(nullptr);
                     SendBytes(client.fd(), "unlogged");
                   },
                   CloseReason::kStopped, "log"}),
    [](const ::testing::TestParamInfo<EndingCase>& test) { return test.param.name; });

TEST_F(SessionEventsTest, ConnectFailuresReportTheStepAndTheSystemsReason) {
  int refused_port = 0;
  Socket not_listening = testing::BoundButNotListening(&refused_port);
  ASSERT_TRUE(not_listening.valid());
  struct Case {
    std::string host;
    int port;
    const char* step;
    int error_number;  // -1: any
  };
  const Case cases[] = {{"127.0.0.1", refused_port, "connect", ECONNREFUSED},
                        // Not a valid name: fails without a lookup leaving the machine.
                        {"no such host", 80, "resolve", -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    observer_ = std::make_shared<RecordingObserver>();
    Start(c.host, c.port);
    Socket client = Connect();
    EXPECT_EQ(ReadUntilEnd(client.fd()).data, "");

    const ObservedSession s = OnlySession();
    EXPECT_EQ(s.events, (std::vector<std::string>{"opened", "connect failed", "closed"}));
    ASSERT_TRUE(s.connect_failed);
    EXPECT_EQ(s.connect_failed->host, c.host);
    EXPECT_EQ(s.connect_failed->port, c.port);
    EXPECT_EQ(s.connect_failed->status.step(), c.step);
    if (c.error_number >= 0) {
      EXPECT_EQ(s.connect_failed->status.error_number(), c.error_number);
    }
    EXPECT_FALSE(s.connect_failed->status.reason().empty());
    ASSERT_EQ(s.closed.size(), 1u);
    EXPECT_EQ(s.closed.front().how, CloseReason::kConnectFailed);
    EXPECT_EQ(s.closed.front().error, s.connect_failed->status);
    listener_.Stop();
  }
}

TEST_F(SessionEventsTest, SessionsAreNumberedInAcceptOrderFromOneInEveryRun) {
  TestServer server;
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    observer_ = std::make_shared<RecordingObserver>();
    Start("127.0.0.1", server.port());
    std::vector<Endpoint> clients;
    std::vector<Socket> sockets_held;
    for (int i = 0; i < 3; ++i) {
      sockets_held.push_back(Connect());
      clients.push_back(LocalEndpointOf(sockets_held.back()));
      // Accepted and connected before the next client comes.
      ASSERT_TRUE(server.WaitAccept().valid());
    }
    listener_.Stop();
    ASSERT_TRUE(observer_->WaitForClosed(3, kDeadline));
    const std::map<SessionId, ObservedSession> sessions = observer_->sessions();
    ASSERT_EQ(sessions.size(), 3u);
    for (SessionId id = 1; id <= 3; ++id) {
      ASSERT_TRUE(sessions.count(id) && sessions.at(id).opened);
      EXPECT_EQ(sessions.at(id).opened->client, clients[id - 1]);
      EXPECT_EQ(sessions.at(id).closed.front().how, CloseReason::kStopped);
    }
  }
}

}  // namespace
}  // namespace portwick

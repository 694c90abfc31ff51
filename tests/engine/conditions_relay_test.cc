// Traffic conditions and session limits through a real listener on
// loopback: exact bytes and order, how each end looks to both peers, what
// the observer hears, and Stop still ending everything at once.
#include <gtest/gtest.h>
#if defined(__linux__)
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/proxy_listener.h"
#include "engine/socket_ops.h"
#include "listener_seams.h"
#include "recording_observer.h"
#include "test_server.h"

namespace portwick {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::ReadExactly;
using testing::ReadUntilEnd;
using testing::SendBytes;
using testing::StreamEnd;

// A listener forwarding to 127.0.0.1:`port` with these limits, conditions
// and observer.
ListenerConfig Config(int port, SessionLimits limits, std::shared_ptr<SessionObserver> observer,
                      const std::vector<std::string>& conditions = {}) {
  ListenerConfig config;
  config.bind = Endpoint::LoopbackIPv4(0);
  config.destination_host = "127.0.0.1";
  config.destination_port = static_cast<uint16_t>(port);
  config.observer = std::move(observer);
  config.limits = limits;
  for (const std::string& text : conditions) {
    config.conditions.push_back(*ParseCondition(text, nullptr));
  }
  return config;
}

// One session through a listener with `conditions` and `limits`: the client
// and the destination's side of it.
struct Relay {
  testing::TestServer server;
  std::shared_ptr<testing::RecordingObserver> observer =
      std::make_shared<testing::RecordingObserver>();
  ProxyListener listener;
  Socket client;
  Socket peer;

  Relay(const std::vector<std::string>& conditions, SessionLimits limits) {
    EXPECT_TRUE(listener.Start(Config(server.port(), limits, observer, conditions)).ok());
    client = testing::ConnectLoopback(listener.BoundPort());
    peer = server.WaitAccept();
  }

  SessionClosed Closed() {
    EXPECT_TRUE(observer->WaitForClosed(1, testing::kDeadline));
    const auto sessions = observer->sessions();
    if (sessions.empty() || sessions.begin()->second.closed.empty()) return {};
    return sessions.begin()->second.closed.front();
  }
};

std::chrono::milliseconds Since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

struct ConditionCase {
  const char* name;
  std::vector<std::string> conditions;
  SessionLimits limits;
  std::function<void(Relay&)> check;
};

// Delay, slice and rate: the bytes come whole and in order, no sooner than
// the conditions allow, each piece reported with the time it was held; the
// other direction is not held. A delay holds each chunk from its own
// arrival, so many receive buffers' worth take one delay, not one each.
TEST(ConditionsRelayTest, TimedConditionsHoldTheBytes) {
  const std::string bytes = testing::PatternBytes(256 * 1024);
  const struct {
    const char* condition;
    size_t size;
    std::chrono::milliseconds least;
    std::chrono::milliseconds most;
  } kCases[] = {
      {"down:delay=100ms", 6, 100ms, 1s},
      {"down:delay=300ms,jitter=20ms", 256 * 1024, 280ms, 2s},  // one by one: 7.5 s
      {"up:slice=3,pause=30ms", 10, 90ms, 1s},                  // pieces at 0, 30, 60 and 90 ms
      {"up:rate=20K", 10240, 480ms, 2s},                        // half a second, less one window
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.condition);
    Relay r({c.condition}, {});
    const bool up = std::string(c.condition).starts_with("up");
    const SocketHandle from = up ? r.client.fd() : r.peer.fd();
    const SocketHandle to = up ? r.peer.fd() : r.client.fd();
    const auto start = Clock::now();
    ASSERT_TRUE(SendBytes(from, bytes.substr(0, c.size)));
    EXPECT_EQ(ReadExactly(to, c.size, c.most).data, bytes.substr(0, c.size));
    EXPECT_GE(Since(start), c.least);
    EXPECT_NE(r.observer->lines().back().find(" held="), std::string::npos);
    // The other direction passes its chunk unheld (a mark, not a clock: a
    // busy machine can take longer than a delay to answer).
    EXPECT_EQ(testing::SendAndRead(to, from, "ok"), "ok");
    const std::string reply = r.observer->lines().back();
    EXPECT_TRUE(reply.ends_with(" 2 ok")) << reply;
  }
}

#if defined(__linux__)
uint32_t DataSegmentsIn(SocketHandle fd) {
  tcp_info info{};
  socklen_t size = sizeof info;
  ::getsockopt(static_cast<int>(fd), IPPROTO_TCP, TCP_INFO, &info, &size);
  return info.tcpi_data_segs_in;
}

// A slice's pieces reach the peer as segments of their own, not merged by
// the kernel into larger ones (which a parser of the peer would see).
TEST(ConditionsRelayTest, SlicedPiecesReachThePeerAsSegmentsOfTheirOwn) {
  Relay r({"up:slice=1"}, {});
  const uint32_t before = DataSegmentsIn(r.peer.fd());
  const std::string bytes = testing::PatternBytes(256);
  ASSERT_TRUE(SendBytes(r.client.fd(), bytes));
  EXPECT_EQ(ReadExactly(r.peer.fd(), bytes.size()).data, bytes);
  EXPECT_EQ(DataSegmentsIn(r.peer.fd()) - before, bytes.size());
}
#endif

TEST(ConditionsRelayTest, EndingsStallAndStopActAsAsked) {
  const std::string bytes = testing::PatternBytes(10000);
  const ConditionCase kCases[] = {
      {"cut with a reset: exactly its bytes, then a reset both ways",
       {"down:cut=4096,end=reset"},
       {},
       [&](Relay& r) {
         ASSERT_TRUE(SendBytes(r.peer.fd(), bytes));
         const testing::ReadResult read = ReadUntilEnd(r.client.fd());
         EXPECT_EQ(read.data, bytes.substr(0, 4096));
         EXPECT_EQ(read.end, StreamEnd::kReset);
         const SessionClosed closed = r.Closed();
         EXPECT_EQ(r.observer->sessions().begin()->second.events.end()[-2], "cut <");
         EXPECT_NE(std::ranges::count(r.observer->lines(), "cut 1 < 4096 reset"), 0);
         EXPECT_EQ(closed.how, CloseReason::kCut);
         EXPECT_EQ(closed.error.reason(), "cut after 4096 bytes: reset");
         EXPECT_EQ(closed.bytes_down, 4096u);
       }},
      {"cut with a FIN: exactly its bytes, then a FIN both ways",
       {"up:cut=100"},
       {},
       [&](Relay& r) {
         ASSERT_TRUE(SendBytes(r.client.fd(), bytes.substr(0, 300)));
         const testing::ReadResult at_peer = ReadUntilEnd(r.peer.fd());
         EXPECT_EQ(at_peer.data, bytes.substr(0, 100));
         EXPECT_EQ(at_peer.end, StreamEnd::kEof);
         EXPECT_EQ(ReadUntilEnd(r.client.fd()).end, StreamEnd::kEof);
         EXPECT_EQ(r.Closed().error.reason(), "cut after 100 bytes: fin");
       }},
      {"stall at once: nothing passes, the connection stays, the other way flows",
       {"down:stall=0"},
       {},
       [&](Relay& r) {
         ASSERT_TRUE(SendBytes(r.peer.fd(), "held back"));
         const testing::ReadResult read = ReadUntilEnd(r.client.fd(), 300ms);
         EXPECT_EQ(read.end, StreamEnd::kTimeout);
         EXPECT_EQ(read.data, "");
         ASSERT_TRUE(SendBytes(r.client.fd(), "up"));
         EXPECT_EQ(ReadExactly(r.peer.fd(), 2).data, "up");
         EXPECT_NE(std::ranges::count(r.observer->lines(), "stall 1 < 0"), 0);
       }},
      {"stall while bytes are delayed: they still come, later ones don't",
       {"down:delay=300ms", "down:stall=150ms"},
       {},
       [&](Relay& r) {
         ASSERT_TRUE(SendBytes(r.peer.fd(), "early"));
         // Said when the stall begins, before the delayed bytes go.
         ASSERT_TRUE(testing::WaitUntil(
             [&] { return std::ranges::count(r.observer->lines(), "stall 1 < 5") != 0; }, 2s));
         EXPECT_EQ(r.observer->sessions().begin()->second.down, "");
         ASSERT_TRUE(SendBytes(r.peer.fd(), "late"));
         const testing::ReadResult read = ReadUntilEnd(r.client.fd(), 700ms);
         EXPECT_EQ(read.data, "early");
         EXPECT_EQ(read.end, StreamEnd::kTimeout);
       }},
      {"a reset from the sender comes after the bytes it delayed",
       {"down:delay=200ms"},
       {},
       [&](Relay& r) {
         ASSERT_TRUE(SendBytes(r.peer.fd(), "last words"));
         sockets::ResetConnection(r.peer.fd());
         r.peer.Reset();  // on Windows the reset leaves at the close
         const testing::ReadResult read = ReadUntilEnd(r.client.fd(), 2s);
         EXPECT_EQ(read.data, "last words");
         EXPECT_EQ(read.end, StreamEnd::kReset);
       }},
      {"delay and close-delay: the bytes after the delay, the FIN after both",
       {"down:delay=100ms", "down:close-delay=200ms"},
       {},
       [&](Relay& r) {
         const auto start = Clock::now();
         ASSERT_TRUE(SendBytes(r.peer.fd(), "x"));
         sockets::ShutdownWrite(r.peer.fd());
         EXPECT_EQ(ReadExactly(r.client.fd(), 1, 2s).data, "x");
         EXPECT_GE(Since(start), 100ms);
         EXPECT_LT(Since(start), 250ms);
         EXPECT_EQ(ReadUntilEnd(r.client.fd(), 2s).end, StreamEnd::kEof);
         EXPECT_GE(Since(start), 300ms);
       }},
      {"Stop ends a session whose bytes wait in a long delay at once",
       {"down:delay=10s"},
       {},
       [&](Relay& r) {
         ASSERT_TRUE(SendBytes(r.peer.fd(), "late"));
         ASSERT_TRUE(testing::WaitUntil([&] { return r.observer->lines().size() >= 2; }));
         const auto start = Clock::now();
         r.listener.Stop();
         const testing::ReadResult read = ReadUntilEnd(r.client.fd(), 2s);
         EXPECT_EQ(read.end, StreamEnd::kReset);
         EXPECT_EQ(read.data, "");
         // The waiting relay thread lets go of the session at once too.
         EXPECT_TRUE(r.observer->WaitForClosed(1, 1s));
         EXPECT_LT(Since(start), 1s);
         EXPECT_EQ(r.Closed().how, CloseReason::kStopped);
       }},
      {"idle time-out: both sides get a FIN",
       {},
       {.idle_timeout = 200ms},
       [&](Relay& r) {
         const auto start = Clock::now();
         EXPECT_EQ(ReadUntilEnd(r.client.fd(), 3s).end, StreamEnd::kEof);
         EXPECT_GE(Since(start), 150ms);
         EXPECT_EQ(ReadUntilEnd(r.peer.fd(), 3s).end, StreamEnd::kEof);
         const SessionClosed closed = r.Closed();
         EXPECT_EQ(closed.how, CloseReason::kIdle);
         EXPECT_EQ(closed.error.reason(), "idle 200 ms");
       }},
  };
  for (const ConditionCase& c : kCases) {
    SCOPED_TRACE(c.name);
    Relay relay(c.conditions, c.limits);
    ASSERT_TRUE(relay.client.valid());
    ASSERT_TRUE(relay.peer.valid());
    c.check(relay);
  }
}

TEST(SessionLimitsTest, AConnectThatHangsTimesOut) {
  int port = 0;
  std::vector<Socket> fillers;
  const Socket stalled = testing::StalledListener(&port, &fillers);
  ASSERT_TRUE(stalled.valid());
  auto observer = std::make_shared<testing::RecordingObserver>();
  ProxyListener listener;
  ASSERT_TRUE(listener.Start(Config(port, {.connect_timeout = 300ms}, observer)).ok());
  const auto start = Clock::now();
  Socket client = testing::ConnectLoopback(listener.BoundPort());
  EXPECT_NE(ReadUntilEnd(client.fd(), 3s).end, StreamEnd::kTimeout);
  EXPECT_GE(Since(start), 290ms);
  EXPECT_LT(Since(start), 1500ms);
  ASSERT_TRUE(observer->WaitForClosed(1, 3s));
  const auto sessions = observer->sessions();
  ASSERT_TRUE(sessions.begin()->second.connect_failed.has_value());
  EXPECT_EQ(sessions.begin()->second.connect_failed->status.Message(),
            "connect: timed out after 300 ms");
  listener.Stop();

  // The time-out is per address: a name whose first address hangs still
  // reaches the one after it.
  testing::TestServer echo(testing::EchoHandler);
  const Endpoint serving = Endpoint::LoopbackIPv4(static_cast<uint16_t>(echo.port()));
  testing::ScriptedResolver hanging_then_serving(
      {Endpoint::LoopbackIPv4(static_cast<uint16_t>(port)), serving});
  ListenerConfig by_name = Config(port, {.connect_timeout = 300ms}, nullptr);
  by_name.destination_host = "name";
  by_name.resolver = &hanging_then_serving;
  ASSERT_TRUE(listener.Start(by_name).ok());
  Socket second = testing::ConnectLoopback(listener.BoundPort());
  EXPECT_EQ(testing::SendAndRead(second.fd(), second.fd(), "through"), "through");
}

TEST(SessionLimitsTest, AtTheCapNewConnectionsWaitUntilOneEnds) {
  testing::TestServer server(testing::EchoHandler);
  ProxyListener listener;
  ASSERT_TRUE(listener.Start(Config(server.port(), {.max_sessions = 1}, nullptr)).ok());
  Socket first = testing::ConnectLoopback(listener.BoundPort());
  EXPECT_EQ(testing::SendAndRead(first.fd(), first.fd(), "one"), "one");
  Socket second = testing::ConnectLoopback(listener.BoundPort());
  ASSERT_TRUE(SendBytes(second.fd(), "two"));
  EXPECT_EQ(ReadExactly(second.fd(), 3, 300ms).data, "") << "served beyond the cap";
  first.Reset();
  EXPECT_EQ(ReadExactly(second.fd(), 3, 3s).data, "two");
}

}  // namespace
}  // namespace portwick

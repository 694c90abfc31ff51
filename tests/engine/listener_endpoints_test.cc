// Where a listener listens and where it connects to: IPv6, dual-stack and
// loopback-only listening, IPv6 and empty destinations, and trying every
// address of a destination in turn.

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/name_resolver.h"
#include "engine/proxy_listener.h"
#include "engine/socket_layer.h"
#include "engine/socket_ops.h"
#include "recording_observer.h"
#include "socket_probes.h"
#include "test_server.h"

namespace portwick {
namespace {

using testing::kDeadline;
using testing::ObservedSession;
using testing::ReadExactly;
using testing::RecordingObserver;
using testing::SendAndRead;
using testing::SendBytes;
using testing::TestServer;

Endpoint WithPort(Endpoint endpoint, int port) {
  endpoint.set_port(static_cast<uint16_t>(port));
  return endpoint;
}

// Hands out a fixed list of addresses, whatever the name.
class ScriptedResolver : public NameResolver {
 public:
  explicit ScriptedResolver(std::vector<Endpoint> endpoints) : endpoints_(std::move(endpoints)) {}
  Status Resolve(const std::string&, uint16_t, std::vector<Endpoint>* endpoints) override {
    *endpoints = endpoints_;
    return Status();
  }

 private:
  const std::vector<Endpoint> endpoints_;
};

class ListenerEndpointsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::WaitUntil([] { return SocketLayer::LiveRegistrations() == 0; }));
  }

  Status Start(const Endpoint& bind, const std::string& host, int port,
               NameResolver* resolver = &NameResolver::Default()) {
    ListenerConfig config;
    config.bind = bind;
    config.destination_host = host;
    config.destination_port = static_cast<uint16_t>(port);
    config.observer = observer_;
    config.resolver = resolver;
    return listener_.Start(config);
  }

  // One echo round trip from a client connected to `to` (the listener's
  // port added); the one session it made, once closed.
  ObservedSession RoundTrip(Endpoint to) {
    to.set_port(static_cast<uint16_t>(listener_.BoundPort()));
    const std::string bytes("hello\0there", 11);
    {
      Socket client = testing::ConnectTo(to);
      EXPECT_TRUE(client.valid()) << to.ToString();
      if (!client.valid()) return {};
      EXPECT_EQ(SendAndRead(client.fd(), client.fd(), bytes), bytes);
      Endpoint local;
      sockets::LocalEndpoint(client.fd(), &local);
      client_ = local;
    }
    EXPECT_TRUE(observer_->WaitForClosed(1, kDeadline));
    const std::map<SessionId, ObservedSession> sessions = observer_->sessions();
    EXPECT_EQ(sessions.size(), 1u);
    return sessions.empty() ? ObservedSession() : sessions.begin()->second;
  }

  std::shared_ptr<RecordingObserver> observer_ = std::make_shared<RecordingObserver>();
  ProxyListener listener_;
  Endpoint client_;
};

struct ForwardCase {
  const char* name;
  Endpoint bind;
  std::string host;  // the destination as given
  Endpoint server;   // where the echo server listens
  Endpoint client;   // where the client connects (the listener's port added)
  bool needs_ipv6;
};

void PrintTo(const ForwardCase& c, std::ostream* os) { *os << c.name; }

class ListenerForwardingTest : public ListenerEndpointsTest,
                               public ::testing::WithParamInterface<ForwardCase> {};

TEST_P(ListenerForwardingTest, RelaysAndReportsTheEndpointsUsed) {
  const ForwardCase& c = GetParam();
  if (c.needs_ipv6 && !testing::HasIPv6Loopback()) GTEST_SKIP() << "no IPv6 on loopback";
  TestServer echo(testing::EchoHandler, 64, c.server);
  ASSERT_GT(echo.port(), 0);
  const Status started = Start(c.bind, c.host, echo.port());
  ASSERT_TRUE(started.ok()) << started.Message();

  const ObservedSession s = RoundTrip(c.client);
  ASSERT_TRUE(s.opened && s.connected) << ::testing::PrintToString(s.events);
  EXPECT_EQ(s.opened->client, client_);
  EXPECT_EQ(s.opened->listener, WithPort(c.client, listener_.BoundPort()));
  EXPECT_EQ(s.connected->destination, WithPort(c.server, echo.port()));
  EXPECT_EQ(s.connected->local.family(), c.server.family());
}

INSTANTIATE_TEST_SUITE_P(
    Endpoints, ListenerForwardingTest,
    ::testing::Values(ForwardCase{"IPv6ToIPv6", Endpoint::LoopbackIPv6(0), "::1",
                                  Endpoint::LoopbackIPv6(0), Endpoint::LoopbackIPv6(0), true},
                      ForwardCase{"BracketedIPv6Destination", Endpoint::LoopbackIPv6(0), "[::1]",
                                  Endpoint::LoopbackIPv6(0), Endpoint::LoopbackIPv6(0), true},
                      ForwardCase{"IPv4ClientToIPv6Server", Endpoint::LoopbackIPv4(0), "::1",
                                  Endpoint::LoopbackIPv6(0), Endpoint::LoopbackIPv4(0), true},
                      // "::" is dual-stack: IPv4 clients arrive as IPv4-mapped addresses.
                      ForwardCase{"DualStackTakesIPv6Clients", Endpoint::AnyIPv6(0), "127.0.0.1",
                                  Endpoint::LoopbackIPv4(0), Endpoint::LoopbackIPv6(0), true},
                      ForwardCase{"EmptyHostIsThisMachine", Endpoint::LoopbackIPv4(0), "",
                                  Endpoint::LoopbackIPv4(0), Endpoint::LoopbackIPv4(0), false},
                      ForwardCase{"EmptyHostReachesAnIPv6Server", Endpoint::LoopbackIPv4(0), "",
                                  Endpoint::LoopbackIPv6(0), Endpoint::LoopbackIPv4(0), true}),
    [](const ::testing::TestParamInfo<ForwardCase>& test) { return test.param.name; });

TEST_F(ListenerEndpointsTest, DualStackListenerTakesIPv4Clients) {
  if (!testing::HasIPv6Loopback()) GTEST_SKIP() << "no IPv6 on loopback";
  TestServer echo(testing::EchoHandler);
  ASSERT_TRUE(Start(Endpoint::AnyIPv6(0), "127.0.0.1", echo.port()).ok());
  const ObservedSession s = RoundTrip(Endpoint::LoopbackIPv4(0));
  ASSERT_TRUE(s.opened);
  // The kernel gives the client as ::ffff:127.0.0.1.
  EXPECT_EQ(s.opened->client.port(), client_.port());
  EXPECT_EQ(s.opened->client.AddressText(), "::ffff:127.0.0.1");
}

TEST_F(ListenerEndpointsTest, LoopbackBindRefusesConnectionsToOtherLocalAddresses) {
  const std::optional<Endpoint> other = testing::OtherLocalIPv4();
  if (!other) GTEST_SKIP() << "no local IPv4 address besides loopback";
  TestServer echo(testing::EchoHandler);

  // On every interface the other address reaches the listener ...
  ASSERT_TRUE(Start(Endpoint::AnyIPv4(0), "127.0.0.1", echo.port()).ok());
  Socket reached = testing::ConnectTo(WithPort(*other, listener_.BoundPort()));
  if (!reached.valid()) GTEST_SKIP() << "this machine can't reach " << other->AddressText();
  reached.Reset();
  listener_.Stop();

  // ... on loopback only it is refused, while loopback clients are served.
  observer_ = std::make_shared<RecordingObserver>();
  ASSERT_TRUE(Start(Endpoint::LoopbackIPv4(0), "127.0.0.1", echo.port()).ok());
  EXPECT_EQ(listener_.BoundEndpoint(), WithPort(Endpoint::LoopbackIPv4(0), listener_.BoundPort()));
  Socket refused(sockets::CreateTcpSocket());
  EXPECT_EQ(sockets::Connect(refused.fd(), WithPort(*other, listener_.BoundPort())), -ECONNREFUSED);
  EXPECT_TRUE(RoundTrip(Endpoint::LoopbackIPv4(0)).connected);
}

TEST_F(ListenerEndpointsTest, ConnectorTriesEveryAddressUntilOneTakesTheConnection) {
  TestServer echo(testing::EchoHandler);
  int refused_port = 0;
  Socket not_listening = testing::BoundButNotListening(&refused_port);
  ASSERT_TRUE(not_listening.valid());
  const Endpoint refused = Endpoint::LoopbackIPv4(static_cast<uint16_t>(refused_port));
  const Endpoint serving = Endpoint::LoopbackIPv4(static_cast<uint16_t>(echo.port()));

  ScriptedResolver refused_then_serving({refused, refused, serving});
  ASSERT_TRUE(Start(Endpoint::LoopbackIPv4(0), "name", echo.port(), &refused_then_serving).ok());
  const ObservedSession s = RoundTrip(Endpoint::LoopbackIPv4(0));
  EXPECT_EQ(s.events.front(), "opened");
  EXPECT_EQ(s.events.at(1), "connected");
  ASSERT_TRUE(s.connected);
  EXPECT_EQ(s.connected->destination, serving);
  listener_.Stop();

  // When none does, the last failure is reported.
  observer_ = std::make_shared<RecordingObserver>();
  ScriptedResolver all_refused({refused, refused});
  ASSERT_TRUE(Start(Endpoint::LoopbackIPv4(0), "name", echo.port(), &all_refused).ok());
  Socket client = testing::ConnectLoopback(listener_.BoundPort());
  EXPECT_EQ(testing::ReadUntilEnd(client.fd()).end, testing::StreamEnd::kEof);
  ASSERT_TRUE(observer_->WaitForClosed(1, kDeadline));
  const ObservedSession failed = observer_->sessions().begin()->second;
  ASSERT_TRUE(failed.connect_failed);
  EXPECT_EQ(failed.connect_failed->status.step(), "connect");
  EXPECT_EQ(failed.connect_failed->status.error_number(), ECONNREFUSED);
  EXPECT_EQ(echo.accepted(), 1);
}

}  // namespace
}  // namespace portwick

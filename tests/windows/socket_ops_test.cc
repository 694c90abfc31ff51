// The Winsock socket calls under the engine, against loopback peers: what
// the relay threads and the socket layer's Stop depend on.
#include "engine/socket_ops.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <thread>

#include "engine/socket.h"
#include "engine/socket_layer.h"

namespace portwick {
namespace {

using std::chrono::seconds;

// A connected pair on 127.0.0.1 or ::1: `near` accepted, `far` connected.
struct Pair {
  Socket near;
  Socket far;
};

Pair Connected(Endpoint::Family family) {
  Socket listener(sockets::CreateTcpSocket(family));
  const Endpoint loopback =
      family == Endpoint::Family::kIPv4 ? Endpoint::LoopbackIPv4(0) : Endpoint::LoopbackIPv6(0);
  EXPECT_EQ(sockets::Bind(listener.fd(), loopback), 0);
  EXPECT_EQ(sockets::Listen(listener.fd(), 4), 0);
  Endpoint target = loopback;
  target.set_port(static_cast<uint16_t>(sockets::LocalPort(listener.fd())));
  Pair pair;
  pair.far = Socket(sockets::CreateTcpSocket(family));
  EXPECT_EQ(sockets::Connect(pair.far.fd(), target), 0);
  pair.near = Socket(sockets::Accept(listener.fd()));
  EXPECT_GE(pair.near.fd(), 0);
  // A receive that waits in vain fails in seconds instead of hanging.
  EXPECT_EQ(sockets::SetReceiveTimeout(pair.near.fd(), 5000), 0);
  EXPECT_EQ(sockets::SetReceiveTimeout(pair.far.fd(), 5000), 0);
  return pair;
}

class SocketOpsWindowsTest : public ::testing::TestWithParam<Endpoint::Family> {};

TEST_P(SocketOpsWindowsTest, HalfCloseDeliversTheRestThenTheEnd) {
  Pair pair = Connected(GetParam());
  ASSERT_EQ(sockets::SendAll(pair.far.fd(), "tail", 4), 0);
  ASSERT_EQ(sockets::ShutdownWrite(pair.far.fd()), 0);
  char buffer[8];
  ASSERT_EQ(sockets::Recv(pair.near.fd(), buffer, sizeof buffer), 4);
  EXPECT_EQ(sockets::Recv(pair.near.fd(), buffer, sizeof buffer), 0);
  // The other direction still carries bytes after the half-close.
  ASSERT_EQ(sockets::SendAll(pair.near.fd(), "back", 4), 0);
  EXPECT_EQ(sockets::Recv(pair.far.fd(), buffer, sizeof buffer), 4);
}

// The socket layer's Stop must wake every relay thread blocked in recv at
// once (shutdown alone doesn't under Wine), and the peer must see the end.
TEST_P(SocketOpsWindowsTest, LastCleanupWakesEveryBlockedReceive) {
  // Declared first, so that on a failure the sockets are closed (which
  // wakes the receives) before the futures wait for their threads.
  std::future<ssize_t> one, two, late;
  SocketLayer layer;
  layer.Startup();
  Pair first = Connected(GetParam());
  Pair second = Connected(GetParam());
  SocketLayer::Registration a(&layer, first.near.fd(), kInvalidSocket);
  SocketLayer::Registration b(&layer, second.near.fd(), kInvalidSocket);
  auto blocked = [](SocketHandle fd) {
    char buffer[16];
    return sockets::Recv(fd, buffer, sizeof buffer);
  };
  one = std::async(std::launch::async, blocked, first.near.fd());
  two = std::async(std::launch::async, blocked, second.near.fd());
  ASSERT_EQ(one.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  layer.Cleanup();
  ASSERT_EQ(one.wait_for(seconds(5)), std::future_status::ready) << "a receive was not woken";
  ASSERT_EQ(two.wait_for(seconds(5)), std::future_status::ready) << "a receive was not woken";
  EXPECT_LE(one.get(), 0);
  EXPECT_LE(two.get(), 0);
  // A receive begun after the reset doesn't block either.
  late = std::async(std::launch::async, [fd = first.near.fd()] {
    char buffer[4];
    return sockets::Recv(fd, buffer, sizeof buffer);
  });
  ASSERT_EQ(late.wait_for(seconds(5)), std::future_status::ready);
  EXPECT_LE(late.get(), 0);
}

INSTANTIATE_TEST_SUITE_P(Families, SocketOpsWindowsTest,
                         ::testing::Values(Endpoint::Family::kIPv4, Endpoint::Family::kIPv6));

TEST(SocketOpsWindowsErrors, RefusedConnectionIsAnErrnoWithTheSystemsText) {
  Socket probe(sockets::CreateTcpSocket());
  ASSERT_EQ(sockets::BindLoopback(probe.fd(), 0), 0);
  const int port = sockets::LocalPort(probe.fd());
  probe.Reset();  // nobody listens there now
  Socket client(sockets::CreateTcpSocket());
  EXPECT_EQ(sockets::Connect(client.fd(), Endpoint::LoopbackIPv4(static_cast<uint16_t>(port))),
            -ECONNREFUSED);
  const std::string text = sockets::ErrorText(-ECONNREFUSED);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find("error "), std::string::npos) << text;
}

}  // namespace
}  // namespace portwick

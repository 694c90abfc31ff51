// The Winsock socket calls under the engine, against loopback peers: what
// the relay threads and the socket layer's Stop depend on.
#include "engine/socket_ops.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "engine/detached_thread.h"
#include "engine/socket.h"
#include "engine/socket_layer.h"
#include "test_server.h"

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

// Runs `call` on a thread of its own. The thread is not joined, so that a
// call that never returns fails the test instead of hanging it. Started as
// the engine starts its threads: a std::thread detached at once is not
// safe with MinGW's threads (now and then the new thread never runs its
// function, or runs it on freed state and the process faults).
template <typename Call>
auto Detached(Call call) {
  auto promise = std::make_shared<std::promise<decltype(call())>>();
  auto result = promise->get_future();
  EXPECT_TRUE(StartDetachedThread(MakeTask([promise, call] { promise->set_value(call()); }),
                                  kRelayStackSize));
  return result;
}

// A listening socket on 127.0.0.1 and its port.
Socket Listening(int* port) {
  Socket listener(sockets::CreateTcpSocket());
  EXPECT_EQ(sockets::BindLoopback(listener.fd(), 0), 0);
  EXPECT_EQ(sockets::Listen(listener.fd(), 64), 0);
  *port = sockets::LocalPort(listener.fd());
  return listener;
}

// Winsock wakes no call for these ends on its own: each must stop a call
// begun after it at once, with what a POSIX socket would say. `near` is
// the accepted end of a connection, or a listener with `far` unconnected.
TEST(SocketOpsWindowsEnds, AnEndStopsTheCallsThatComeAfterIt) {
  using Call = std::function<ssize_t(SocketHandle near, SocketHandle far)>;
  const Call receive = [](SocketHandle near, SocketHandle) {
    char byte;
    return sockets::Recv(near, &byte, 1);
  };
  const struct {
    const char* name;
    bool listening;
    void (*end)(SocketHandle near, SocketHandle far);
    Call call;
    ssize_t expected;
  } kCases[] = {
      {"receive after ShutdownRead reads the end", false,
       [](SocketHandle near, SocketHandle) { sockets::ShutdownRead(near); }, receive, 0},
      {"receive after a reset fails with it", false,
       [](SocketHandle near, SocketHandle) { sockets::ResetConnection(near); }, receive,
       -ECONNRESET},
      {"send after a reset fails with it", false,
       [](SocketHandle near, SocketHandle) { sockets::ResetConnection(near); },
       [](SocketHandle near, SocketHandle) { return sockets::Send(near, "x", 1); }, -ECONNRESET},
      {"accept after ShutdownBoth fails", true,
       [](SocketHandle near, SocketHandle) { sockets::ShutdownBoth(near); },
       [](SocketHandle near, SocketHandle) { return ssize_t{sockets::Accept(near)}; }, -EINVAL},
      {"connect after a reset fails", true,
       [](SocketHandle, SocketHandle far) { sockets::ResetConnection(far); },
       [](SocketHandle near, SocketHandle far) {
         const auto port = static_cast<uint16_t>(sockets::LocalPort(near));
         return ssize_t{sockets::Connect(far, Endpoint::LoopbackIPv4(port))};
       },
       -ECONNABORTED},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Pair pair;
    if (c.listening) {
      int port = 0;
      pair.near = Listening(&port);
      pair.far = Socket(sockets::CreateTcpSocket());
    } else {
      pair = Connected(Endpoint::Family::kIPv4);
    }
    c.end(pair.near.fd(), pair.far.fd());
    auto result = Detached(
        [call = c.call, near = pair.near.fd(), far = pair.far.fd()] { return call(near, far); });
    ASSERT_EQ(result.wait_for(seconds(5)), std::future_status::ready) << "the call went on waiting";
    EXPECT_EQ(result.get(), c.expected);
  }
}

// Stop resets the sockets of sessions still connecting: a connect waiting
// on a peer that doesn't answer ends at once, not at its time-out.
TEST(SocketOpsWindowsEnds, AResetCutsAWaitingConnectShort) {
  int port = 0;
  std::vector<Socket> fillers;
  const Socket stalled = testing::StalledListener(&port, &fillers);
  ASSERT_TRUE(stalled.valid());
  Socket s(sockets::CreateTcpSocket());
  auto connect = Detached([fd = s.fd(), port] {
    return sockets::Connect(fd, Endpoint::LoopbackIPv4(static_cast<uint16_t>(port)));
  });
  ASSERT_EQ(connect.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  sockets::ResetConnection(s.fd());
  ASSERT_EQ(connect.wait_for(seconds(5)), std::future_status::ready);
  EXPECT_EQ(connect.get(), -ECONNABORTED);
}

// Ending the receiving side wakes the receive waiting now and leaves the
// sending side alone: a send that waits for the peer to read goes on.
TEST(SocketOpsWindowsEnds, ShutdownReadEndsTheReceiveButNotTheSend) {
  Pair pair = Connected(Endpoint::Family::kIPv4);
  const std::string bytes(32 << 20, 'b');  // more than loopback buffers hold
  auto receive = Detached([fd = pair.near.fd()] {
    char byte;
    return sockets::Recv(fd, &byte, 1);
  });
  auto send = Detached(
      [fd = pair.near.fd(), &bytes] { return sockets::SendAll(fd, bytes.data(), bytes.size()); });
  ASSERT_EQ(send.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  sockets::ShutdownRead(pair.near.fd());
  ASSERT_EQ(receive.wait_for(seconds(5)), std::future_status::ready);
  EXPECT_EQ(receive.get(), 0);
  std::vector<char> buffer(1 << 16);
  size_t received = 0;
  for (ssize_t n; received < bytes.size() &&
                  (n = sockets::Recv(pair.far.fd(), buffer.data(), buffer.size())) > 0;) {
    received += static_cast<size_t>(n);
  }
  EXPECT_EQ(received, bytes.size());
  ASSERT_EQ(send.wait_for(seconds(5)), std::future_status::ready);
  EXPECT_EQ(send.get(), 0);
}

// A receive that ran out of its time-out was cancelled: the byte that comes
// after it is read by the next receive, not lost.
TEST(SocketOpsWindowsEnds, AReceiveTimeOutLosesNoByte) {
  Pair pair = Connected(Endpoint::Family::kIPv4);
  ASSERT_EQ(sockets::SetReceiveTimeout(pair.near.fd(), 100), 0);
  char byte = 0;
  EXPECT_EQ(sockets::Recv(pair.near.fd(), &byte, 1), -EAGAIN);
  ASSERT_EQ(sockets::SendAll(pair.far.fd(), "z", 1), 0);
  EXPECT_EQ(sockets::Recv(pair.near.fd(), &byte, 1), 1);
  EXPECT_EQ(byte, 'z');
}

// Wine's recv reads a peer's reset that came before it as the end of the
// stream; IsClosedState must still tell it from a FIN, or the relay would
// pass the reset on as an orderly end.
TEST(SocketOpsWindowsEnds, APeersResetIsToldFromItsFin) {
  for (const bool reset : {true, false}) {
    SCOPED_TRACE(reset ? "reset" : "FIN");
    Pair pair = Connected(Endpoint::Family::kIPv4);
    if (reset) sockets::ResetConnection(pair.far.fd());
    pair.far.Reset();  // the reset (zero linger) or a FIN leaves now
    ASSERT_EQ(sockets::WaitForHangUp(pair.near.fd(), std::chrono::seconds(5)), 1);
    char byte;
    EXPECT_LE(sockets::Recv(pair.near.fd(), &byte, 1), 0);
    EXPECT_EQ(sockets::IsClosedState(pair.near.fd()), reset);
  }
}

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

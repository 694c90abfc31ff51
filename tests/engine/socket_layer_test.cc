// The socket layer: how connections are reset and woken without closing
// their descriptors, the counted start-up, and name resolution.

#include "engine/socket_layer.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <pthread.h>
#include <signal.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "base/endpoint.h"
#include "base/status.h"
#include "engine/socket_io.h"
#include "engine/socket_ops.h"
#include "socket_probes.h"
#include "test_server.h"

namespace portwick {
namespace {

using testing::kDeadline;
using testing::MakeTcpPair;
using testing::ReadUntilEnd;
using testing::StreamEnd;

TEST(SocketOpsTest, ResetWakesABlockedReceiveAndThePeerSeesAReset) {
  testing::TcpPair pair = MakeTcpPair();
  ASSERT_TRUE(pair.far.valid());
  auto reader = std::async(std::launch::async, [fd = pair.near.fd()] {
    char byte;
    return sockets::Recv(fd, &byte, 1);
  });
  // The reader may not be blocked yet; the reset is sticky either way.
  sockets::ResetConnection(pair.near.fd());
  ASSERT_EQ(reader.wait_for(kDeadline), std::future_status::ready);
  EXPECT_LT(reader.get(), 0);
  EXPECT_TRUE(testing::SocketIsOpen(pair.near.fd()));
  EXPECT_EQ(ReadUntilEnd(pair.far.fd()).end, StreamEnd::kReset);
}

TEST(SocketOpsTest, ResetWakesABlockedConnect) {
  int port = 0;
  std::vector<Socket> fillers;
  Socket listener = testing::StalledListener(&port, &fillers);
  ASSERT_TRUE(listener.valid());
  Socket s(sockets::CreateTcpSocket());
  std::atomic<bool> started{false};
  auto connector = std::async(std::launch::async, [&] {
    started = true;
    return sockets::Connect(s.fd(), Endpoint::LoopbackIPv4(static_cast<uint16_t>(port)));
  });
  ASSERT_TRUE(testing::WaitUntil([&] { return started.load(); }));
  // Keep resetting until the connect gives up: a reset that lands before
  // the connect began does not stop it.
  ASSERT_TRUE(testing::WaitUntil([&] {
    sockets::ResetConnection(s.fd());
    return connector.wait_for(std::chrono::milliseconds(5)) == std::future_status::ready;
  }));
  EXPECT_LT(connector.get(), 0);
  EXPECT_TRUE(testing::SocketIsOpen(s.fd()));
}

TEST(SocketOpsTest, ShutdownWakesABlockedAccept) {
  Socket listener(sockets::CreateTcpSocket());
  ASSERT_EQ(sockets::BindLoopback(listener.fd(), 0), 0);
  ASSERT_EQ(sockets::Listen(listener.fd(), 5), 0);
  auto acceptor =
      std::async(std::launch::async, [fd = listener.fd()] { return sockets::Accept(fd); });
  ASSERT_TRUE(testing::WaitUntil([&] {
    sockets::ShutdownBoth(listener.fd());
    return acceptor.wait_for(std::chrono::milliseconds(5)) == std::future_status::ready;
  }));
  // What a listener reads as "stop accepting", on every platform.
  EXPECT_EQ(acceptor.get(), -EINVAL);
}

#if !defined(_WIN32)
// Signals are POSIX's: Winsock raises no SIGPIPE and has no EINTR to retry.

// Sets a signal's disposition for the scope it lives in.
class ScopedSignalAction {
 public:
  ScopedSignalAction(int signal_number, void (*handler)(int)) : signal_number_(signal_number) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: interrupted calls fail with EINTR
    ::sigaction(signal_number_, &action, &saved_);
  }
  ScopedSignalAction(const ScopedSignalAction&) = delete;
  ScopedSignalAction& operator=(const ScopedSignalAction&) = delete;
  ~ScopedSignalAction() { ::sigaction(signal_number_, &saved_, nullptr); }

 private:
  const int signal_number_;
  struct sigaction saved_ {};
};

TEST(SocketOpsTest, SendToAVanishedPeerFailsWithEpipeInsteadOfRaisingSigpipe) {
  testing::TcpPair pair = MakeTcpPair();
  ASSERT_TRUE(pair.far.valid());
  sockets::ResetConnection(pair.far.fd());
  ScopedSignalAction default_action(SIGPIPE, SIG_DFL);
  const std::string data(65536, 'x');
  ssize_t result = 0;
  bool raised = false;
  // A SIGPIPE raised by a send goes to the sending thread. This thread
  // blocks it, so it stays pending there instead of ending the process.
  std::thread sender([&] {
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, nullptr);
    // The first send after the reset fails with ECONNRESET; the ones after
    // it fail with EPIPE, which is where SIGPIPE comes without MSG_NOSIGNAL.
    for (int i = 0; i < 100 && result != -EPIPE; ++i) {
      result = SocketIo::Default().Send(pair.near.fd(), data.data(), data.size());
    }
    sigset_t pending;
    sigpending(&pending);
    raised = sigismember(&pending, SIGPIPE) == 1;
    if (raised) {
      const timespec no_wait{0, 0};
      sigtimedwait(&pipe_only, nullptr, &no_wait);  // takes it back
    }
  });
  sender.join();
  EXPECT_EQ(result, -EPIPE);
  EXPECT_FALSE(raised);
}

std::atomic<int> interruptions{0};
void CountInterruption(int) { interruptions.fetch_add(1); }

TEST(SocketOpsTest, ReceiveInterruptedBySignalsGoesOnUntilTheBytesCome) {
  testing::TcpPair pair = MakeTcpPair();
  ASSERT_TRUE(pair.far.valid());
  ScopedSignalAction counting(SIGUSR1, CountInterruption);
  interruptions = 0;
  std::atomic<bool> returned{false};
  ssize_t result = 0;
  char buffer[16];
  std::thread reader([&] {
    result = SocketIo::Default().Recv(pair.near.fd(), buffer, sizeof buffer);
    returned = true;
  });
  // The reader spends nearly all its time blocked in recv, so these signals
  // interrupt it there; a Recv that gave up on EINTR would return now. Each
  // is sent again until its handler has run: ThreadSanitizer holds back one
  // that comes while the reader enters recv.
  for (int i = 1; i <= 20 && !returned.load(); ++i) {
    ASSERT_TRUE(testing::WaitUntil([&] {
      if (interruptions.load() >= i) return true;
      pthread_kill(reader.native_handle(), SIGUSR1);
      return false;
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_FALSE(returned.load());
  ASSERT_TRUE(testing::SendBytes(pair.far.fd(), "data"));
  reader.join();
  ASSERT_EQ(result, 4);
  EXPECT_EQ(std::string(buffer, 4), "data");
}
#endif  // !_WIN32

struct ResolveCase {
  const char* host;
  bool found;
  // With `exact`, the one address expected; otherwise one that must be
  // among those found.
  const char* address;
  bool exact;
};

TEST(SocketOpsTest, ResolvesLiteralsWithoutLookupAndNamesToEveryAddress) {
  const ResolveCase cases[] = {
      {"127.0.0.1", true, "127.0.0.1", true},
      {"10.1.2.3", true, "10.1.2.3", true},  // taken as it is, never looked up
      {"::1", true, "::1", true},
      {"[::1]", true, "::1", true},
      {"fe80::1%1", true, "fe80::1%1", true},
      {"localhost", true, "127.0.0.1", false},
      // Can't be told from a failed conversion, so it goes to resolution,
      // which still reads it as an address.
      {"255.255.255.255", true, "255.255.255.255", true},
      // This machine.
      {"", true, nullptr, false},
      // Not valid names: fail without any lookup leaving the machine.
      {"no such host", false, nullptr, false},
      {"[::1", false, nullptr, false},
  };
  for (const ResolveCase& c : cases) {
    SCOPED_TRACE(c.host);
    std::vector<Endpoint> found;
    const Status status = sockets::Resolve(c.host, 2007, &found);
    EXPECT_EQ(status.ok(), c.found) << status.Message();
    if (!c.found) {
      EXPECT_EQ(status.step(), "resolve");
      EXPECT_FALSE(status.reason().empty());
      EXPECT_TRUE(found.empty());
      continue;
    }
    ASSERT_FALSE(found.empty());
    for (const Endpoint& endpoint : found) EXPECT_EQ(endpoint.port(), 2007);
    if (c.address == nullptr) {
      // This machine: its loopback addresses only.
      for (const Endpoint& endpoint : found) {
        EXPECT_TRUE(endpoint == Endpoint::LoopbackIPv4(2007) ||
                    endpoint == Endpoint::LoopbackIPv6(2007))
            << endpoint.ToString();
      }
      continue;
    }
    const Endpoint expected = *Endpoint::ParseAddress(c.address, 2007);
    if (c.exact) {
      EXPECT_EQ(found, std::vector<Endpoint>{expected});
    } else {
      EXPECT_NE(std::find(found.begin(), found.end(), expected), found.end());
    }
  }
}

TEST(SocketOpsTest, ErrorTextIsTheSystemMessage) {
  EXPECT_EQ(sockets::ErrorText(-EADDRINUSE), "Address already in use");
  EXPECT_EQ(sockets::ErrorText(ECONNREFUSED), "Connection refused");
}

TEST(SocketLayerTest, RegistrationWithoutAReferenceIsCancelledFromTheStart) {
  SocketLayer layer;
  SocketLayer::Registration early(&layer, -1, -1);
  EXPECT_TRUE(early.cancelled());
  EXPECT_EQ(layer.registrations(), 0);

  layer.Startup();
  SocketLayer::Registration later(&layer, -1, -1);
  EXPECT_FALSE(later.cancelled());
  EXPECT_EQ(layer.registrations(), 1);
  layer.Cleanup();
  EXPECT_TRUE(later.cancelled());
}

TEST(SocketLayerTest, OnlyTheLastCleanupResetsRegisteredConnections) {
  SocketLayer layer;
  layer.Startup();
  layer.Startup();
  testing::TcpPair client = MakeTcpPair();
  testing::TcpPair destination = MakeTcpPair();
  ASSERT_TRUE(client.far.valid() && destination.far.valid());
  {
    SocketLayer::Registration session(&layer, client.far.fd(), destination.near.fd());
    layer.Cleanup();
    EXPECT_FALSE(session.cancelled());
    ASSERT_TRUE(testing::SendBytes(client.near.fd(), "still open"));

    layer.Cleanup();
    EXPECT_TRUE(session.cancelled());
    // Both peers of the session see a reset.
    EXPECT_EQ(ReadUntilEnd(client.near.fd()).end, StreamEnd::kReset);
    EXPECT_EQ(ReadUntilEnd(destination.far.fd()).end, StreamEnd::kReset);
  }
  EXPECT_EQ(layer.registrations(), 0);
  // More cleanups than start-ups are ignored; the next start-up counts anew.
  layer.Cleanup();
  EXPECT_EQ(layer.references(), 0);
  layer.Startup();
  EXPECT_EQ(layer.references(), 1);
  layer.Cleanup();
}

TEST(SocketLayerTest, CancelResetsBothConnectionsOfOneRegistrationOnly) {
  SocketLayer layer;
  layer.Startup();
  testing::TcpPair first = MakeTcpPair();
  testing::TcpPair second = MakeTcpPair();
  ASSERT_TRUE(first.far.valid() && second.far.valid());
  SocketLayer::Registration a(&layer, first.far.fd(), -1);
  SocketLayer::Registration b(&layer, second.far.fd(), -1);
  a.Cancel();
  EXPECT_TRUE(a.cancelled());
  EXPECT_FALSE(b.cancelled());
  EXPECT_EQ(ReadUntilEnd(first.near.fd()).end, StreamEnd::kReset);
  ASSERT_TRUE(testing::SendBytes(second.far.fd(), "ok"));
  EXPECT_EQ(testing::ReadExactly(second.near.fd(), 2).data, "ok");
  layer.Cleanup();
}

}  // namespace
}  // namespace portwick

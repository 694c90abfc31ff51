// Conditions edited while a listener runs, through real relays on loopback
// on each path a direction can take.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
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
using namespace testing;

std::vector<Condition> Parse(const std::vector<std::string>& texts) {
  std::vector<Condition> conditions;
  for (const std::string& text : texts) conditions.push_back(*ParseCondition(text, nullptr));
  return conditions;
}

// How the relays move the bytes: nothing needs them, on the event relay
// (with an idle time-out watched there too) or spliced on threads; or
// copied for an observer that wants the chunks.
enum class Path { kEventRelay, kSpliced, kObserved, kIdleWatched };
constexpr Path kPaths[] = {Path::kEventRelay, Path::kSpliced, Path::kObserved, Path::kIdleWatched};

// A listener to a loopback server with one session open.
struct LiveRelay {
  TestServer server;
  ProxyListener listener;
  Socket client;
  Socket peer;

  explicit LiveRelay(Path path) {
    ListenerConfig config;
    config.bind = Endpoint::LoopbackIPv4(0);
    config.destination_host = "127.0.0.1";
    config.destination_port = static_cast<uint16_t>(server.port());
    // The real calls through a SocketIo of the test's keep the session off
    // the event relay.
    static SplicingIo splicing;
    if (path == Path::kSpliced) config.io = &splicing;
    if (path == Path::kObserved) config.observer = std::make_shared<RecordingObserver>();
    if (path == Path::kIdleWatched) config.limits.idle_timeout = std::chrono::minutes(1);
    EXPECT_TRUE(listener.Start(config).ok());
    client = ConnectLoopback(listener.BoundPort());
    peer = server.WaitAccept();
  }
};

// An open session's next chunk follows each edit: held when a delay comes,
// at once when it goes. A session accepted later draws the edit, and up
// passes untouched.
TEST(LiveConditionsRelayTest, EditsReachOpenAndNewSessions) {
  const std::string bytes = PatternBytes(100);
  for (const Path path : kPaths) {
    SCOPED_TRACE(static_cast<int>(path));
    LiveRelay r(path);
    ASSERT_TRUE(r.peer.valid());
    EXPECT_EQ(SendAndRead(r.peer.fd(), r.client.fd(), "hello"), "hello");
    for (const bool held : {true, false}) {
      r.listener.SetConditions(
          Parse(held ? std::vector<std::string>{"down:delay=300ms"} : std::vector<std::string>{}));
      const auto start = Clock::now();
      EXPECT_EQ(SendAndRead(r.peer.fd(), r.client.fd(), bytes), bytes);
      EXPECT_EQ(Clock::now() - start >= 300ms, held);
    }
    r.listener.SetConditions(Parse({"down:cut=10"}));
    Socket client = ConnectLoopback(r.listener.BoundPort());
    Socket peer = r.server.WaitAccept();
    EXPECT_EQ(SendAndRead(client.fd(), peer.fd(), "up"), "up");
    ASSERT_TRUE(SendBytes(peer.fd(), bytes));
    const ReadResult read = ReadUntilEnd(client.fd(), 3s);
    EXPECT_EQ(read.data, bytes.substr(0, 10));
    EXPECT_EQ(read.end, StreamEnd::kEof);
  }
}

// An edit that lands while bytes stream acts on the open session: spliced,
// the chunk that sees it is in the pipe and must come out first; copied,
// what was gathered must. The cut lies beyond the stream, so every byte
// comes through, and then exactly the ten bytes that reach it, the spliced
// ones counted too.
TEST(LiveConditionsRelayTest, AStreamThatChangesPathMidwayComesOutWholeAndInOrder) {
  constexpr size_t kStream = 8 << 20;
  const std::string bytes = PatternBytes(kStream + 100);
  for (const Path path : kPaths) {
    SCOPED_TRACE(static_cast<int>(path));
    LiveRelay r(path);
    ASSERT_TRUE(r.peer.valid());
    std::thread writer([&] { SendBytes(r.peer.fd(), std::string_view(bytes).substr(0, kStream)); });
    std::string read = ReadExactly(r.client.fd(), 1 << 20, 5s).data;
    r.listener.SetConditions(Parse({"down:cut=" + std::to_string(kStream + 10)}));
    read += ReadExactly(r.client.fd(), kStream - read.size(), 5s).data;
    if (read.size() < kStream) sockets::ShutdownBoth(r.peer.fd());  // wakes a stuck writer
    writer.join();
    EXPECT_TRUE(read == bytes.substr(0, kStream)) << "bytes lost or out of order";
    ASSERT_TRUE(SendBytes(r.peer.fd(), std::string_view(bytes).substr(kStream)));
    const ReadResult end = ReadUntilEnd(r.client.fd(), 3s);
    EXPECT_EQ(end.data, bytes.substr(kStream, 10));
    EXPECT_EQ(end.end, StreamEnd::kEof);
  }
}

}  // namespace
}  // namespace portwick

// Conditions edited while a listener runs, through real relays on loopback:
// an open session's next chunk follows the edit on either path (spliced:
// no observer; copied: an observer that wants the chunks), the other
// direction passes untouched, and a stream that changes path midway comes
// out whole and in order.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/proxy_listener.h"
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

std::vector<Condition> Parse(const std::vector<std::string>& texts) {
  std::vector<Condition> conditions;
  for (const std::string& text : texts) conditions.push_back(*ParseCondition(text, nullptr));
  return conditions;
}

std::chrono::milliseconds Since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// A listener to a loopback server with one session open: the client and
// the destination's side of it.
struct LiveRelay {
  testing::TestServer server;
  std::shared_ptr<testing::RecordingObserver> observer;
  ProxyListener listener;
  Socket client;
  Socket peer;

  LiveRelay(bool observed, const std::vector<std::string>& conditions) {
    if (observed) observer = std::make_shared<testing::RecordingObserver>();
    ListenerConfig config;
    config.bind = Endpoint::LoopbackIPv4(0);
    config.destination_host = "127.0.0.1";
    config.destination_port = static_cast<uint16_t>(server.port());
    config.observer = observer;
    config.conditions = Parse(conditions);
    EXPECT_TRUE(listener.Start(config).ok());
    client = testing::ConnectLoopback(listener.BoundPort());
    peer = server.WaitAccept();
  }
};

struct EditCase {
  const char* name;
  std::vector<std::string> before;
  std::vector<std::string> edit;
  std::function<void(LiveRelay&)> after;
};

TEST(LiveConditionsRelayTest, AnOpenSessionsNextChunkFollowsTheEdit) {
  const std::string bytes = testing::PatternBytes(100);
  const EditCase kCases[] = {
      {"a cut counts from the session's start; up and a new session as it says",
       {},
       {"down:cut=10"},
       [&](LiveRelay& r) {
         ASSERT_TRUE(SendBytes(r.client.fd(), "up"));
         EXPECT_EQ(ReadExactly(r.peer.fd(), 2).data, "up");
         ASSERT_TRUE(SendBytes(r.peer.fd(), bytes));
         const testing::ReadResult read = ReadUntilEnd(r.client.fd());
         EXPECT_EQ(read.data, bytes.substr(0, 5)) << "5 of 10 went before the edit";
         EXPECT_EQ(read.end, StreamEnd::kEof);
         // A session accepted after the edit draws it at once.
         Socket client = testing::ConnectLoopback(r.listener.BoundPort());
         Socket peer = r.server.WaitAccept();
         ASSERT_TRUE(SendBytes(peer.fd(), bytes));
         EXPECT_EQ(ReadUntilEnd(client.fd()).data, bytes.substr(0, 10));
       }},
      {"a delay holds the next chunk, not the other way",
       {},
       {"down:delay=200ms"},
       [&](LiveRelay& r) {
         const auto start = Clock::now();
         ASSERT_TRUE(SendBytes(r.peer.fd(), bytes));
         EXPECT_EQ(ReadExactly(r.client.fd(), bytes.size()).data, bytes);
         EXPECT_GE(Since(start), 200ms);
         EXPECT_EQ(testing::SendAndRead(r.client.fd(), r.peer.fd(), "ok"), "ok");
       }},
      {"conditions taken away let the next chunk go at once",
       {"down:delay=600ms"},
       {},
       [&](LiveRelay& r) {
         const auto start = Clock::now();
         ASSERT_TRUE(SendBytes(r.peer.fd(), bytes));
         EXPECT_EQ(ReadExactly(r.client.fd(), bytes.size()).data, bytes);
         EXPECT_LT(Since(start), 400ms);
       }},
  };
  for (const bool observed : {false, true}) {
    for (const EditCase& c : kCases) {
      SCOPED_TRACE(std::string(c.name) + (observed ? ", copied" : ", spliced"));
      LiveRelay r(observed, c.before);
      ASSERT_TRUE(r.peer.valid());
      EXPECT_EQ(testing::SendAndRead(r.peer.fd(), r.client.fd(), "hello"), "hello");
      r.listener.SetConditions(Parse(c.edit));
      c.after(r);
    }
  }
}

// The edit lands while bytes stream: spliced, the chunk that sees it is in
// the pipe and must come out first; copied, what was gathered must. The cut
// lies beyond the stream, so every byte comes through, and then exactly the
// ten bytes that reach it: the spliced bytes counted too.
TEST(LiveConditionsRelayTest, AStreamThatChangesPathMidwayComesOutWholeAndInOrder) {
  constexpr size_t kStream = 8 << 20;
  const std::string bytes = testing::PatternBytes(kStream + 100);
  for (const bool observed : {false, true}) {
    SCOPED_TRACE(observed ? "copied" : "spliced");
    LiveRelay r(observed, {});
    ASSERT_TRUE(r.peer.valid());
    std::thread writer([&] { SendBytes(r.peer.fd(), std::string_view(bytes).substr(0, kStream)); });
    std::string read = ReadExactly(r.client.fd(), 1 << 20).data;
    r.listener.SetConditions(Parse({"down:cut=" + std::to_string(kStream + 10)}));
    read += ReadExactly(r.client.fd(), kStream - read.size()).data;
    writer.join();
    ASSERT_EQ(read.size(), kStream);
    EXPECT_TRUE(read == bytes.substr(0, kStream)) << "bytes lost or out of order";
    ASSERT_TRUE(SendBytes(r.peer.fd(), std::string_view(bytes).substr(kStream)));
    const testing::ReadResult end = ReadUntilEnd(r.client.fd());
    EXPECT_EQ(end.data, bytes.substr(kStream, 10));
    EXPECT_EQ(end.end, StreamEnd::kEof);
  }
}

}  // namespace
}  // namespace portwick

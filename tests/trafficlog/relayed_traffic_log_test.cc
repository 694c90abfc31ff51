// The traffic log behind real sessions: clients talk through the listener to
// a loopback server while the sinks log what is relayed.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "descriptor_limit_hold.h"
#include "engine/proxy_listener.h"
#include "engine/socket_layer.h"
#include "engine/socket_ops.h"
#include "listener_seams.h"
#include "test_server.h"
#include "trafficlog/log_sinks.h"
#include "trafficlog_test_support.h"

namespace portwick {
namespace {

using logtesting::RecordingPane;
using logtesting::TempDir;
using testing::ConnectLoopback;
using testing::SendBytes;
using testing::TestServer;

// A chunk describes itself: "<ssss:d:qqqqqq:lllll>" and l payload bytes that
// follow from session, direction and sequence number. Sessions ping-pong one
// chunk at a time, so every receive of a relay holds exactly one chunk and
// every log record is one chunk.
constexpr size_t kHeaderSize = 21;
constexpr int kSessions = 12;

std::string Chunk(int session, char direction, int seq) {
  const int length = 1 + (session * 131 + seq * 17 + (direction == 'r' ? 700 : 0)) % 1500;
  char header[32];
  std::snprintf(header, sizeof header, "<%04d:%c:%06d:%05d>", session, direction, seq, length);
  std::string chunk(header);
  for (int i = 0; i < length; ++i)
    chunk += static_cast<char>('a' + (session * 7 + seq * 3 + i) % 26);
  return chunk;
}

// Reads exactly `count` bytes (never more); fewer when the stream ends or
// the deadline passes.
std::string ReceiveExactly(SocketHandle fd, size_t count) {
  const auto until = std::chrono::steady_clock::now() + logtesting::kDeadline;
  std::string data;
  char buffer[4096];
  while (data.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    const int ready =
        testing::WaitReadableFor(fd, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (ready == -EINTR) continue;
    if (ready <= 0) break;
    const ssize_t n = sockets::Recv(fd, buffer, std::min(sizeof buffer, count - data.size()));
    if (n <= 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  return data;
}

struct ChunkId {
  int session = -1;
  char direction = '?';
  int seq = -1;
  int length = -1;
};

bool ParseHeader(const std::string& text, size_t at, ChunkId* id) {
  if (text.size() < at + kHeaderSize || text[at] != '<') return false;
  return std::sscanf(text.c_str() + at, "<%4d:%c:%6d:%5d>", &id->session, &id->direction, &id->seq,
                     &id->length) == 4;
}

// Answers each request chunk with the matching response chunk.
class ChunkServer {
 public:
  ChunkServer() : server_([this](SocketHandle fd) { Serve(fd); }) {}
  int port() const { return server_.port(); }
  int received(int session) const { return received_[session]; }
  int bad_requests() const { return bad_requests_; }

 private:
  void Serve(SocketHandle fd) {
    for (;;) {
      const std::string header = ReceiveExactly(fd, kHeaderSize);
      ChunkId id;
      if (!ParseHeader(header, 0, &id)) return;
      const std::string payload = ReceiveExactly(fd, static_cast<size_t>(id.length));
      if (id.session < 0 || id.session >= kSessions ||
          header + payload != Chunk(id.session, 'q', id.seq)) {
        ++bad_requests_;
        return;
      }
      ++received_[id.session];
      if (!SendBytes(fd, Chunk(id.session, 'r', id.seq))) return;
    }
  }

  std::atomic<int> received_[kSessions] = {};
  std::atomic<int> bad_requests_{0};
  TestServer server_;  // last: its threads stop before the counters go
};

// One client session: sends request `seq` and waits for its response, until
// `rounds` are done, `stop` is set or the session ends. Counts complete
// round trips and responses that were not exactly its own.
void RunClient(int port, int session, int rounds, const std::atomic<bool>& stop,
               std::atomic<int>* done, std::atomic<int>* wrong) {
  Socket socket = ConnectLoopback(port);
  if (!socket.valid()) {
    ++*wrong;
    return;
  }
  for (int seq = 0; seq < rounds && !stop; ++seq) {
    if (!SendBytes(socket.fd(), Chunk(session, 'q', seq))) return;
    const std::string expected = Chunk(session, 'r', seq);
    const std::string answer = ReceiveExactly(socket.fd(), expected.size());
    if (answer.size() < expected.size()) return;  // the session ended
    if (answer != expected) {
      ++*wrong;
      return;
    }
    ++*done;
  }
}

// Splits the log into chunks, checking that each is whole and appears once
// and that each session's chunks of one direction come in sequence. Returns
// how many chunks of each (session, direction) the log holds.
std::map<std::pair<int, char>, int> CheckLog(const std::string& log) {
  std::map<std::pair<int, char>, int> counts;
  size_t at = 0;
  while (at < log.size()) {
    ChunkId id;
    if (!ParseHeader(log, at, &id) || id.session < 0 || id.session >= kSessions) {
      ADD_FAILURE() << "no chunk header at " << at;
      break;
    }
    const std::string expected = Chunk(id.session, id.direction, id.seq);
    if (log.compare(at, expected.size(), expected) != 0) {
      ADD_FAILURE() << "torn chunk at " << at;
      break;
    }
    int& count = counts[{id.session, id.direction}];
    EXPECT_EQ(id.seq, count) << "session " << id.session << " " << id.direction;
    ++count;
    at += expected.size();
  }
  return counts;
}

// How the run logs: with the pane every record is copied; the file alone
// takes the bytes without copying them where the platform allows (Linux).
struct LogMode {
  const char* name;
  bool synchronous;
  bool pane;
};

class RelayedTrafficLogTest : public ::testing::TestWithParam<LogMode> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::WaitUntil([] { return SocketLayer::LiveRegistrations() == 0; }));
    settings_ =
        LogSettings{true, GetParam().pane, GetParam().synchronous, dir_.File("traffic.log")};
  }
  void TearDown() override {
    listener_.Stop();
    ReleaseLogSinks(sinks_, {});
    EXPECT_TRUE(testing::WaitUntil([] { return SocketLayer::LiveRegistrations() == 0; }));
  }

  void Start(int port) {
    listener_.SetLogSink(BuildLogSinks(sinks_, settings_, &pane_));
    std::string error;
    ASSERT_TRUE(listener_.Start(0, "127.0.0.1", port, &error)) << error;
  }

  // One client thread per session, each making `rounds` exchanges.
  std::vector<std::thread> StartClients(int rounds, const std::atomic<bool>& stop,
                                        std::atomic<int>* done, std::atomic<int>* wrong) {
    std::vector<std::thread> clients;
    for (int s = 0; s < kSessions; ++s) {
      clients.emplace_back(RunClient, listener_.BoundPort(), s, rounds, std::cref(stop), &done[s],
                           wrong);
    }
    return clients;
  }

  TempDir dir_;
  RecordingPane pane_;
  LogSettings settings_;
  LogSinks sinks_;  // outlives the listener's sessions only through the handle
  ProxyListener listener_;
};

TEST_P(RelayedTrafficLogTest, ManySessionsEachGetTheirOwnBytesAndEveryChunkIsLoggedOnce) {
  constexpr int kRounds = 40;
  ChunkServer server;
  Start(server.port());
  std::atomic<bool> stop{false};
  std::atomic<int> done[kSessions] = {};
  std::atomic<int> wrong{0};
  std::vector<std::thread> clients = StartClients(kRounds, stop, done, &wrong);
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(server.bad_requests(), 0);
  for (int s = 0; s < kSessions; ++s) {
    EXPECT_EQ(done[s], kRounds) << "session " << s;
    EXPECT_EQ(server.received(s), kRounds) << "session " << s;
  }
  listener_.Stop();
  ReleaseLogSinks(sinks_, {});

  const std::string log = logtesting::ReadFile(settings_.log_file_name);
  const auto counts = CheckLog(log);
  for (int s = 0; s < kSessions; ++s) {
    EXPECT_EQ(counts.count({s, 'q'}) ? counts.at({s, 'q'}) : 0, kRounds) << "session " << s;
    EXPECT_EQ(counts.count({s, 'r'}) ? counts.at({s, 'r'}) : 0, kRounds) << "session " << s;
  }
  // The pane shows the same chunks, possibly interleaved differently.
  if (settings_.show_in_output) {
    EXPECT_EQ(pane_.Text().size(), log.size());
  }
}

// The owner releases the sinks while every session is still relaying: the
// sessions end instead of calling released sinks, and the log holds whole
// chunks only, among them every chunk that reached its peer.
TEST_P(RelayedTrafficLogTest, ReleasingTheSinksWhileSessionsRelayEndsThemCleanly) {
  ChunkServer server;
  Start(server.port());
  std::atomic<bool> stop{false};
  std::atomic<int> done[kSessions] = {};
  std::atomic<int> wrong{0};
  std::vector<std::thread> clients = StartClients(1 << 30, stop, done, &wrong);
  ASSERT_TRUE(testing::WaitUntil([&] {
    int total = 0;
    for (const auto& d : done) total += d;
    return total >= 10 * kSessions;
  }));
  ReleaseLogSinks(sinks_, {});
  // Sessions end on their next record; a client that happens to wait on a
  // quiet session is told to stop after its round trip.
  stop = true;
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(server.bad_requests(), 0);

  const auto counts = CheckLog(logtesting::ReadFile(settings_.log_file_name));
  for (int s = 0; s < kSessions; ++s) {
    const int requests = counts.count({s, 'q'}) ? counts.at({s, 'q'}) : 0;
    const int responses = counts.count({s, 'r'}) ? counts.at({s, 'r'}) : 0;
    EXPECT_GE(requests, server.received(s)) << "session " << s;
    EXPECT_GE(responses, done[s].load()) << "session " << s;
  }
}

constexpr LogMode kLogModes[] = {
    {"Queued", false, true},
    {"Sync", true, true},
    {"QueuedFileOnly", false, false},
    {"SyncFileOnly", true, false},
};
INSTANTIATE_TEST_SUITE_P(Modes, RelayedTrafficLogTest, ::testing::ValuesIn(kLogModes),
                         [](const auto& test) { return test.param.name; });

// The file alone logs (its bytes stay in the kernel on Linux, unless splice
// is refused): each row ends a session its own way or relays it by copying,
// and the log holds exactly the bytes relayed, each direction in order, or
// counts exactly those as lost.
enum class Ending { kHalfClose, kReset, kFullDisk, kNoDescriptors, kSpliceRefused };
constexpr const char* kEndingNames[] = {"HalfClose", "Reset", "FullDisk", "NoDescriptors",
                                        "SpliceRefused"};

// Refuses every splice, as a kernel or socket that can't splice would: the
// file-logged direction copies, and logs, from its first chunk.
class NoSpliceIo : public testing::PassThroughIo {
 public:
  ssize_t Splice(int, int, size_t) override { return -EINVAL; }
};

class LoggedEndingTest : public ::testing::TestWithParam<Ending> {};

TEST_P(LoggedEndingTest, TheLogHoldsExactlyWhatWasRelayed) {
  const Ending ending = GetParam();
#if defined(PORTWICK_UBSAN_VPTR_NEEDS_DESCRIPTORS)
  if (ending == Ending::kNoDescriptors) {
    GTEST_SKIP() << "the sanitizer's vptr check needs descriptors of its own";
  }
#endif
  const std::string up = testing::PatternBytes(300 * 1024, 3);
  const std::string down = testing::PatternBytes(200 * 1024, 4);
  testing::ReadResult got;
  std::atomic<bool> server_started{false};
  std::atomic<bool> server_done{false};
  // Reads the client's bytes to their end, and answers a clean end.
  TestServer server([&](SocketHandle fd) {
    got = testing::ReadExactly(fd, 1);
    server_started = true;
    const testing::ReadResult rest = testing::ReadUntilEnd(fd);
    got.data += rest.data;
    got.end = rest.end;
    if (got.end == testing::StreamEnd::kEof && SendBytes(fd, down)) sockets::ShutdownWrite(fd);
    server_done = true;
  });
  TempDir dir;
  const std::string name = ending == Ending::kFullDisk ? "/dev/full" : dir.File("traffic.log");
  // An earlier run's records stay: the new ones go after them.
  const std::string earlier = ending == Ending::kFullDisk ? "" : "earlier run\n";
  if (!earlier.empty()) logtesting::WriteFile(name, earlier);
  LogSinks sinks;
  static NoSpliceIo no_splice;  // outlives every session
  ListenerConfig config = testing::LoopbackForward(
      server.port(), ending == Ending::kSpliceRefused ? &no_splice : &SocketIo::Default());
  config.log_sink = BuildLogSinks(sinks, LogSettings{true, false, false, name}, nullptr);
  ProxyListener listener;
  ASSERT_TRUE(listener.Start(config).ok());
  Socket client = ConnectLoopback(listener.BoundPort());
  ASSERT_TRUE(client.valid());
  ASSERT_TRUE(SendBytes(client.fd(), up.substr(0, 1)));
  // The rest goes once the session relays (its server has the first byte): a
  // client reset while its connection still waits to be accepted leaves no
  // session at all (Windows skips such connections).
  ASSERT_TRUE(testing::WaitUntil([&] { return server_started.load(); }));
  // Held then, as the server (in this process) has its socket: the next
  // session's socket may still be made, no pipe can.
  std::optional<testing::DescriptorLimitHold> hold;
  if (ending == Ending::kNoDescriptors) {
    hold.emplace();
    ASSERT_TRUE(hold->reached());
    hold->Free(1);
  }
  ASSERT_TRUE(SendBytes(client.fd(), up.substr(1)));
  std::string expected = up;
  if (ending == Ending::kReset) {
    sockets::ResetConnection(client.fd());
    client.Reset();  // on Windows the reset leaves at the close
  } else {
    sockets::ShutdownWrite(client.fd());
    EXPECT_EQ(testing::ReadUntilEnd(client.fd()).data, down);
    expected += down;
  }
  ASSERT_TRUE(testing::WaitUntil([&] { return server_done.load(); }));
  listener.Stop();
  hold.reset();
  ReleaseLogSinks(sinks, {});
  std::string log = ending == Ending::kFullDisk ? "" : logtesting::ReadFile(name);
  ASSERT_EQ(log.substr(0, earlier.size()), earlier);
  log.erase(0, earlier.size());
  if (ending == Ending::kReset) {
    // What the reset dropped may have been logged; what arrived was.
    EXPECT_EQ(log, up.substr(0, log.size()));
    EXPECT_GE(log.size(), got.data.size());
    EXPECT_EQ(got.data, up.substr(0, got.data.size()));
  } else if (ending == Ending::kFullDisk) {
    EXPECT_EQ(sinks.losses->Snapshot().bytes, expected.size());
  } else {
    EXPECT_EQ(got.data, up);
    EXPECT_EQ(log, expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Endings, LoggedEndingTest,
                         ::testing::Values(Ending::kHalfClose, Ending::kReset, Ending::kFullDisk,
                                           Ending::kNoDescriptors, Ending::kSpliceRefused),
                         [](const auto& test) {
                           return kEndingNames[static_cast<int>(test.param)];
                         });

}  // namespace
}  // namespace portwick

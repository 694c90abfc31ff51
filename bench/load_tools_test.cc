#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/append_speed.h"
#include "bench/flags.h"
#include "bench/load_client.h"
#include "bench/load_protocol.h"
#include "bench/load_server.h"
#include "bench/proc_stats.h"
#include "bench/socket_util.h"
#include "gtest/gtest.h"

namespace portwick::bench {
namespace {

class LoadServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server_.Open(0, &error)) << error;
    serving_ = std::thread([this] { server_.Run(); });
  }
  void TearDown() override {
    server_.Shutdown();
    if (serving_.joinable()) serving_.join();
  }

  UniqueFd Connect() {
    std::string error;
    UniqueFd fd = ConnectLoopback(server_.port(), 10'000, &error);
    EXPECT_TRUE(fd.valid()) << error;
    return fd;
  }

  // After the client stops sending, the server closes; whatever it still sent
  // arrives before the end of the stream.
  static std::string RestUntilEnd(int fd) {
    ::shutdown(fd, SHUT_WR);
    std::string rest;
    char buffer[4096];
    for (;;) {
      ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
      if (n <= 0) break;
      rest.append(buffer, static_cast<std::size_t>(n));
    }
    return rest;
  }

  LoadServer server_;
  std::thread serving_;
};

TEST_F(LoadServerTest, EchoReturnsEveryByteInOrderIncludingTheModeByte) {
  UniqueFd fd = Connect();
  std::string sent(1, kEchoMode);
  for (int i = 0; i < 700'000; ++i) sent.push_back(static_cast<char>(i * 131 % 251));
  std::thread writer([&] { EXPECT_TRUE(WriteAll(fd.get(), sent.data(), sent.size())); });
  std::string received(sent.size(), '\0');
  EXPECT_TRUE(ReadExactly(fd.get(), received.data(), received.size()));
  writer.join();
  EXPECT_EQ(received, sent);
  EXPECT_EQ(RestUntilEnd(fd.get()), "");
}

TEST_F(LoadServerTest, SinkAcksEachWholeUnitOnceAcrossSends) {
  UniqueFd fd = Connect();
  std::string payload(3 * kAckUnit + 100, 'x');
  ASSERT_TRUE(WriteAll(fd.get(), &kSinkMode, 1));
  ASSERT_TRUE(WriteAll(fd.get(), payload.data(), payload.size()));
  std::string acks(3, '\0');
  ASSERT_TRUE(ReadExactly(fd.get(), acks.data(), acks.size()));
  EXPECT_EQ(acks, "aaa");
  // The 100 bytes over count towards the fourth unit.
  ASSERT_TRUE(WriteAll(fd.get(), payload.data(), kAckUnit - 100));
  char ack = 0;
  ASSERT_TRUE(ReadExactly(fd.get(), &ack, 1));
  EXPECT_EQ(ack, kAckByte);
  EXPECT_EQ(RestUntilEnd(fd.get()), "");
}

TEST_F(LoadServerTest, SourceSendsExactlyTheCountAskedForEvenWithASplitHeader) {
  const std::uint64_t count = 5'000'001;
  unsigned char header[kSourceHeaderSize];
  EncodeCount(count, header);
  UniqueFd fd = Connect();
  // Three separate sends, so the server sees the header in pieces.
  ASSERT_TRUE(WriteAll(fd.get(), &kSourceMode, 1));
  ASSERT_TRUE(WriteAll(fd.get(), header, 3));
  ASSERT_TRUE(WriteAll(fd.get(), header + 3, kSourceHeaderSize - 3));
  std::string received(count, '\0');
  ASSERT_TRUE(ReadExactly(fd.get(), received.data(), received.size()));
  EXPECT_EQ(received.substr(0, 4), "ABCD");
  EXPECT_EQ(RestUntilEnd(fd.get()), "");
}

TEST_F(LoadServerTest, UnknownModeClosesTheConnection) {
  UniqueFd fd = Connect();
  ASSERT_TRUE(WriteAll(fd.get(), "?", 1));
  char byte;
  EXPECT_FALSE(ReadExactly(fd.get(), &byte, 1));
}

TEST_F(LoadServerTest, BulkTransfersMoveWholeSharesOnEveryConnection) {
  for (int connections : {1, 3}) {
    SCOPED_TRACE(connections);
    BulkResult up = RunUpload(server_.port(), connections, 10 * kAckUnit);
    ASSERT_TRUE(up.ok) << up.error;
    EXPECT_EQ(up.bytes, (10 / connections) * kAckUnit * connections);
    EXPECT_GT(up.MiBPerSecond(), 0);
    BulkResult down = RunDownload(server_.port(), connections, 10'000'000);
    ASSERT_TRUE(down.ok) << down.error;
    EXPECT_EQ(down.bytes, 10'000'000 / connections * connections);
  }
}

TEST_F(LoadServerTest, PingPongTimesEachExchange) {
  LatencyResult result = RunPingPong(server_.port(), 10, 50, 10);
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_EQ(result.round_trips_us.size(), 50u);
  for (double us : result.round_trips_us) EXPECT_GT(us, 0);
}

TEST_F(LoadServerTest, ConnectionRateStopsAtTheCountLimit) {
  const int clients = 4;
  RateResult result = RunConnectionRate(server_.port(), clients, 30, 200);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.failures, 0u);
  EXPECT_GE(result.connections, 200u);
  EXPECT_LT(result.connections, 200u + clients);
}

TEST_F(LoadServerTest, ExchangesTimeEveryRoundTripOnEveryConnection) {
  ExchangeResult result = RunExchanges(server_.port(), 4, 64, 0.2);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_GT(result.exchanges, 4u);
  // Every exchange was timed (far fewer than a connection keeps).
  EXPECT_EQ(result.round_trips_us.size(), result.exchanges);
  EXPECT_GT(*std::min_element(result.round_trips_us.begin(), result.round_trips_us.end()), 0);
}

TEST_F(LoadServerTest, IdleSessionsAreEachConfirmedAndHeld) {
  IdleSessions sessions;
  std::string error;
  ASSERT_TRUE(sessions.Open(server_.port(), 20, &error)) << error;
  EXPECT_EQ(sessions.size(), 20);
  sessions.Close();
  EXPECT_EQ(sessions.size(), 0);
}

TEST(LoadClientTest, NothingListeningIsAFailureNotAFigure) {
  int port = PickFreePort();
  ASSERT_GT(port, 0);
  EXPECT_FALSE(RunUpload(port, 1, kAckUnit).ok);
  EXPECT_FALSE(RunDownload(port, 2, 1000).ok);
  EXPECT_FALSE(RunPingPong(port, 0, 1, 1).ok);
  EXPECT_FALSE(RunExchanges(port, 2, 64, 0.1).ok);
  RateResult rate = RunConnectionRate(port, 1, 5, 100);
  EXPECT_FALSE(rate.ok);
  EXPECT_EQ(rate.connections, 0u);
  EXPECT_FALSE(rate.error.empty());
  IdleSessions sessions;
  std::string error;
  EXPECT_FALSE(sessions.Open(port, 1, &error));
  EXPECT_NE(error.find("connect"), std::string::npos) << error;
}

TEST(ProcStatsTest, ParsesStatusStatAndSocketTables) {
  const std::string status =
      "Name:\tx\nVmRSSx:\t7 kB\nVmHWM:\t  4096 kB\nVmRSS:\t   1234 kB\nThreads:\t3\n";
  EXPECT_EQ(StatusFieldKib(status, "VmRSS"), 1234);
  EXPECT_EQ(StatusFieldKib(status, "VmHWM"), 4096);
  EXPECT_EQ(StatusFieldKib(status, "VmSwap"), -1);

  EXPECT_EQ(ParentFromStat("123 (a) b (c) S 45 123 123 0"), 45);
  EXPECT_EQ(ParentFromStat("7 (plain) R 1 7"), 1);
  EXPECT_EQ(ParentFromStat("garbage"), -1);

  const std::string tcp =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n"
      "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0\n"
      "   1: 0100007F:0050 0100007F:9C40 01 00000000:00000000 00:00000000 00000000     0\n";
  EXPECT_TRUE(ListensOn(tcp, 8080));
  EXPECT_FALSE(ListensOn(tcp, 80));  // established, not listening
  EXPECT_FALSE(ListensOn(tcp, 40000));
}

TEST(ProcStatsTest, SeesThreadsDescriptorsChildrenAndListeners) {
  ProcessUsage before;
  ASSERT_TRUE(ReadProcessUsage(::getpid(), false, &before));
  EXPECT_GT(before.rss_kib, 0);
  EXPECT_GE(before.peak_rss_kib, before.rss_kib);

  std::mutex mutex;
  std::condition_variable changed;
  bool release = false;
  std::thread parked([&] {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return release; });
  });
  UniqueFd listener = ListenLoopback(0, 1, false, nullptr);
  ASSERT_TRUE(listener.valid());
  int port = LocalPort(listener.get());
  EXPECT_TRUE(IsPortListening(port));
  ProcessUsage during;
  ASSERT_TRUE(ReadProcessUsage(::getpid(), false, &during));
  EXPECT_EQ(during.threads, before.threads + 1);
  EXPECT_EQ(during.fds, before.fds + 1);

  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  pid_t child = ::fork();
  if (child == 0) {
    char byte;
    ::close(pipe_fds[1]);
    _exit(::read(pipe_fds[0], &byte, 1) == 0 ? 0 : 1);  // until the parent closes
  }
  ASSERT_GT(child, 0);
  ::close(pipe_fds[0]);
  std::vector<pid_t> tree = ProcessTree(::getpid());
  EXPECT_EQ(tree.front(), ::getpid());
  EXPECT_NE(std::find(tree.begin(), tree.end(), child), tree.end());
  ProcessUsage with_child;
  ASSERT_TRUE(ReadProcessUsage(::getpid(), true, &with_child));
  EXPECT_GE(with_child.processes, 2);
  EXPECT_GT(with_child.threads, during.threads);
  ::close(pipe_fds[1]);
  int child_status = -1;
  ASSERT_EQ(::waitpid(child, &child_status, 0), child);
  EXPECT_EQ(child_status, 0);

  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  changed.notify_all();
  parked.join();
  listener.Reset();
  EXPECT_FALSE(IsPortListening(port));
  ProcessUsage missing;
  EXPECT_FALSE(ReadProcessUsage(child, false, &missing));  // reaped
}

TEST(AppendSpeedTest, AppendsExactlyTheBytesAskedForAndReportsFailures) {
  char folder[] = "/tmp/portwick-append-test.XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/log";
  ASSERT_TRUE(TimeAppends(path, 25'000, 10'384).ok);
  AppendResult again = TimeAppends(path, 7, 10'384);  // appends, doesn't truncate
  ASSERT_TRUE(again.ok) << again.error;
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 25'007);
  EXPECT_GT(again.MiBPerSecond(7), 0);
  ::unlink(path.c_str());
  ::rmdir(folder);
  AppendResult missing = TimeAppends(path, 1, 10);  // the folder is gone
  EXPECT_FALSE(missing.ok);
  EXPECT_NE(missing.error.find(path), std::string::npos) << missing.error;
  EXPECT_FALSE(TimeAppends(path, 1, 0).ok);
}

TEST(FlagsTest, ReadsNamedValuesAndRejectsTheRest) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
  };
  const Case cases[] = {{{"--port=80", "--tree"}, true},
                        {{"port=80"}, false},
                        {{"-p"}, false},
                        {{"--"}, false},
                        {{}, true}};
  for (const Case& c : cases) {
    std::vector<char*> argv{const_cast<char*>("tool")};
    for (const std::string& arg : c.args) argv.push_back(const_cast<char*>(arg.c_str()));
    Flags flags;
    std::string error;
    EXPECT_EQ(flags.Parse(static_cast<int>(argv.size()), argv.data(), 1, &error), c.ok)
        << (c.args.empty() ? "" : c.args[0]);
  }
  char* argv[] = {const_cast<char*>("tool"), const_cast<char*>("--port=8080"),
                  const_cast<char*>("--seconds=1.5"), const_cast<char*>("--bad=12x"),
                  const_cast<char*>("--tree")};
  Flags flags;
  std::string error;
  ASSERT_TRUE(flags.Parse(5, argv, 1, &error));
  double value = 0;
  EXPECT_TRUE(flags.Number("port", 1, &value, &error));
  EXPECT_EQ(value, 8080);
  EXPECT_TRUE(flags.Number("seconds", 1, &value, &error));
  EXPECT_EQ(value, 1.5);
  EXPECT_TRUE(flags.Number("absent", 7, &value, &error));
  EXPECT_EQ(value, 7);
  EXPECT_FALSE(flags.Number("bad", 1, &value, &error));
  EXPECT_NE(error.find("--bad"), std::string::npos);
  EXPECT_TRUE(flags.Has("tree"));
  EXPECT_EQ(flags.String("tree", ""), "1");
}

}  // namespace
}  // namespace portwick::bench

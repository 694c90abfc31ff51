// A forwarding run with its session outputs over loopback: the capture
// store, the console trace and the pcapng file against what the clients
// really sent, with sessions at the same time, several forwards, and a stop
// in the middle of transfers.
#include "run/forwarding_run.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/posix/socket_descriptor.h"
#include "capture/session_label.h"
#include "engine/socket.h"
#include "engine/socket_layer.h"
#include "engine/socket_ops.h"
#include "test_server.h"
#include "trace_decoder.h"
#include "tshark_reader.h"

namespace portwick {
namespace {

namespace fs = std::filesystem;
using testing::DecodedTrace;
using testing::DecodeTrace;
using testing::EchoHandler;
using testing::MemoryFile;
using testing::PatternBytes;
using testing::TestServer;
using testing::TraceBody;

class ForwardingRunOutputsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() / ("portwick-run-" + std::to_string(getpid()));
    fs::create_directories(directory_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }

  RunSettings Settings(int destination_port) {
    RunSettings settings;
    settings.forwards = {
        {Endpoint::LoopbackIPv4(0), "127.0.0.1", static_cast<uint16_t>(destination_port), {}}};
    settings.outputs.trace = TraceMode::kText;
    settings.outputs.trace_fd = trace_.fd();
    settings.outputs.pcap_file = pcap_path();
    return settings;
  }
  std::string pcap_path() const { return (directory_ / "run.pcapng").string(); }

  // The label of each session in the trace, by the client's port.
  static std::map<int, std::string> LabelsByClientPort(const DecodedTrace& trace) {
    std::map<int, std::string> labels;
    for (const auto& [label, event] : trace.events) {
      if (event.starts_with("open from 127.0.0.1:")) labels[std::stoi(event.substr(20))] = label;
    }
    return labels;
  }

  fs::path directory_;
  MemoryFile trace_;
};

int LocalPort(SocketHandle fd) {
  Endpoint local;
  return sockets::LocalEndpoint(fd, &local) == 0 ? local.port() : 0;
}

// Sends `bytes` in pieces of varying size and reads the echo back whole,
// then half-closes and waits for the end.
void EchoRoundTrip(SocketHandle fd, const std::string& bytes, std::string* echoed) {
  for (size_t at = 0; at < bytes.size();) {
    const size_t piece = std::min(bytes.size() - at, 1 + (at * 7919) % 20000);
    if (!testing::SendBytes(fd, std::string_view(bytes).substr(at, piece))) return;
    at += piece;
  }
  *echoed = testing::ReadExactly(fd, bytes.size()).data;
  sockets::ShutdownWrite(fd);
  testing::ReadUntilEnd(fd);
}

TEST_F(ForwardingRunOutputsTest, ConcurrentSessionsComeOutWholeEverywhere) {
  TestServer server(EchoHandler);
  ForwardingRun run;
  const Status started = run.Start(Settings(server.port()), nullptr, {});
  ASSERT_TRUE(started.ok()) << started.Message();
  constexpr int kClients = 5;
  std::vector<std::string> sent(kClients);
  std::vector<std::string> echoed(kClients);
  std::vector<int> ports(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    sent[i] = PatternBytes(100000 + 7777 * static_cast<size_t>(i), static_cast<unsigned>(i + 3));
    clients.emplace_back([&, i] {
      Socket socket = testing::ConnectLoopback(run.BoundPort());
      ports[i] = LocalPort(socket.fd());
      EchoRoundTrip(socket.fd(), sent[i], &echoed[i]);
    });
  }
  for (std::thread& client : clients) client.join();
  // The sessions end on their own (the stop would otherwise reset those
  // whose closing is still under way).
  ASSERT_TRUE(testing::WaitUntil([&] { return run.capture()->Counts().sessions_open == 0; }));
  run.Stop({});

  // The trace: every byte each way, per session, and the events in order.
  const DecodedTrace trace = DecodeTrace(trace_.Contents(), TraceBody::kText);
  ASSERT_TRUE(trace.ok) << trace.error;
  const std::map<int, std::string> labels = LabelsByClientPort(trace);
  ASSERT_EQ(labels.size(), static_cast<size_t>(kClients));
  std::map<std::string, std::vector<std::string>> events_by_session;
  for (const auto& [label, event] : trace.events) events_by_session[label].push_back(event);
  for (int i = 0; i < kClients; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(echoed[i], sent[i]);
    const std::string& label = labels.at(ports[i]);
    EXPECT_TRUE(trace.streams.at({label, '>'}) == sent[i]);
    EXPECT_TRUE(trace.streams.at({label, '<'}) == sent[i]);
    const std::vector<std::string>& events = events_by_session[label];
    EXPECT_TRUE(events.front().starts_with("open from"));
    EXPECT_TRUE(events[1].starts_with("connected to 127.0.0.1:"));
    // The two FINs come from two relay threads, in either order.
    const std::string counts = "; " + std::to_string(sent[i].size()) + " bytes up, " +
                               std::to_string(sent[i].size()) + " bytes down, ";
    EXPECT_TRUE(events.back().starts_with("closed: client FIN, server FIN" + counts) ||
                events.back().starts_with("closed: server FIN, client FIN" + counts))
        << events.back();
  }

  // The capture store: the same bytes, chunk by chunk.
  const std::shared_ptr<CaptureStore> capture = run.capture();
  ASSERT_TRUE(capture);
  EXPECT_EQ(capture->Counts().sessions_total, static_cast<uint64_t>(kClients));
  EXPECT_EQ(capture->Counts().sessions_open, 0u);
  for (int i = 0; i < kClients; ++i) {
    const SessionId id = std::stoull(labels.at(ports[i]));
    const CapturedSession session = *capture->Session(id);
    EXPECT_EQ(session.state, CapturedState::kClosed);
    EXPECT_EQ(session.close_reason, CloseReason::kBothFinished);
    EXPECT_EQ(session.client.port(), ports[i]);
    std::string up;
    std::string down;
    for (const ChunkRef& chunk : capture->Chunks(id, 0, SIZE_MAX).chunks) {
      (chunk->direction() == Direction::kClientToServer ? up : down) += chunk->bytes();
    }
    EXPECT_TRUE(up == sent[i]);
    EXPECT_TRUE(down == sent[i]);
  }

  // The pcapng file, read by tshark.
  if (!testing::HaveTshark()) GTEST_SKIP() << "tshark is not installed";
  for (int index = 0; index < kClients; ++index) {
    const testing::FollowedStream stream = testing::FollowTcpStream(pcap_path(), index);
    const int port = std::stoi(stream.node0.substr(stream.node0.rfind(':') + 1));
    const auto client = std::find(ports.begin(), ports.end(), port);
    ASSERT_NE(client, ports.end()) << stream.node0;
    const std::string& bytes = sent[static_cast<size_t>(client - ports.begin())];
    EXPECT_TRUE(stream.from0 == bytes);
    EXPECT_TRUE(stream.from1 == bytes);
    EXPECT_EQ(stream.node1, "127.0.0.1:" + std::to_string(server.port()));
  }
}

// Clients still sending when the run stops: every byte a session relayed
// (its closed line's count) is in the trace, the capture and the pcapng
// file by the time Stop returns.
TEST_F(ForwardingRunOutputsTest, NothingIsLostAtStop) {
  TestServer server(EchoHandler);
  ForwardingRun run;
  ASSERT_TRUE(run.Start(Settings(server.port()), nullptr, {}).ok());
  constexpr int kClients = 3;
  std::atomic<uint64_t> received{0};
  std::atomic<bool> stopping{false};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      Socket socket = testing::ConnectLoopback(run.BoundPort());
      const std::string chunk = PatternBytes(4096, static_cast<unsigned>(i));
      std::thread reader([&, fd = socket.fd()] {
        char buffer[65536];
        ssize_t n;
        while ((n = sockets::Recv(fd, buffer, sizeof buffer)) > 0) {
          received += static_cast<uint64_t>(n);
        }
      });
      while (!stopping.load() && testing::SendBytes(socket.fd(), chunk)) {
      }
      reader.join();
    });
  }
  ASSERT_TRUE(testing::WaitUntil([&] { return received.load() > (4u << 20); }));
  run.Stop({});
  stopping = true;
  for (std::thread& client : clients) client.join();

  const DecodedTrace trace = DecodeTrace(trace_.Contents(), TraceBody::kText);
  ASSERT_TRUE(trace.ok) << trace.error;
  const std::shared_ptr<CaptureStore> capture = run.capture();
  int closed = 0;
  for (const auto& [label, event] : trace.events) {
    if (!event.starts_with("closed: ")) continue;
    ++closed;
    SCOPED_TRACE(event);
    // "closed: HOW; U bytes up, D bytes down, T ms"
    const size_t semicolon = event.find("; ");
    const uint64_t up = std::stoull(event.substr(semicolon + 2));
    const uint64_t down = std::stoull(event.substr(event.find(", ", semicolon) + 2));
    EXPECT_GT(up, 0u);
    EXPECT_EQ(trace.streams.at({label, '>'}).size(), up);
    EXPECT_EQ(trace.streams.at({label, '<'}).size(), down);
    const CapturedSession session = *capture->Session(std::stoull(label));
    EXPECT_EQ(session.bytes_up, up);
    EXPECT_EQ(session.bytes_down, down);
    EXPECT_EQ(session.bytes_kept, up + down);
  }
  EXPECT_EQ(closed, kClients);

  if (!testing::HaveTshark()) GTEST_SKIP() << "tshark is not installed";
  uint64_t pcap_bytes = 0;
  for (int index = 0; index < kClients; ++index) {
    const testing::FollowedStream stream = testing::FollowTcpStream(pcap_path(), index);
    pcap_bytes += stream.from0.size() + stream.from1.size();
  }
  const CaptureCounts counts = capture->Counts();
  EXPECT_EQ(pcap_bytes, counts.bytes_up + counts.bytes_down);
}

TEST_F(ForwardingRunOutputsTest, SeveralForwardsShareTheOutputs) {
  TestServer first(EchoHandler);
  TestServer second(EchoHandler);
  RunSettings settings = Settings(0);
  settings.forwards = {
      {Endpoint::LoopbackIPv4(0), "127.0.0.1", static_cast<uint16_t>(first.port()), {}},
      {Endpoint::LoopbackIPv4(0), "localhost", static_cast<uint16_t>(second.port()), {}},
  };
  // The session cap counts each forward's sessions apart: one open session
  // on the first doesn't hold back the second's.
  settings.limits.max_sessions = 1;
  ForwardingRun run;
  ASSERT_TRUE(run.Start(settings, nullptr, {}).ok());
  ASSERT_NE(run.BoundPort(0), 0);
  ASSERT_NE(run.BoundPort(1), 0);
  ASSERT_NE(run.BoundPort(0), run.BoundPort(1));
  // An open session on each; stopping the run resets both.
  std::vector<Socket> open;
  for (size_t forward = 0; forward < 2; ++forward) {
    Socket socket = testing::ConnectLoopback(run.BoundPort(forward));
    const std::string hello = "forward " + std::to_string(forward + 1);
    ASSERT_EQ(testing::SendAndRead(socket.fd(), socket.fd(), hello, std::chrono::seconds(3)),
              hello);
    open.push_back(std::move(socket));
  }
  run.Stop({});
  EXPECT_FALSE(run.IsRunning());
  for (const Socket& socket : open) {
    EXPECT_NE(testing::ReadUntilEnd(socket.fd()).end, testing::StreamEnd::kTimeout);
  }

  const DecodedTrace trace = DecodeTrace(trace_.Contents(), TraceBody::kText);
  ASSERT_TRUE(trace.ok) << trace.error;
  EXPECT_EQ(trace.streams.at({"1.1", '>'}), "forward 1");
  EXPECT_EQ(trace.streams.at({"2.1", '<'}), "forward 2");
  const std::shared_ptr<CaptureStore> capture = run.capture();
  ASSERT_TRUE(capture->Session(CaptureKey(1, 1)));
  ASSERT_TRUE(capture->Session(CaptureKey(2, 1)));
  EXPECT_EQ(capture->Session(CaptureKey(2, 1))->close_reason, CloseReason::kStopped);
  EXPECT_EQ(capture->Counts().sessions_open, 0u);
}

TEST_F(ForwardingRunOutputsTest, OutputsFollowTheSettings) {
  TestServer server(EchoHandler);
  {
    // A pcapng file that can't be made: nothing listens.
    RunSettings settings = Settings(server.port());
    settings.outputs.pcap_file = (directory_ / "missing" / "x.pcapng").string();
    ForwardingRun run;
    const Status status = run.Start(settings, nullptr, {});
    EXPECT_EQ(status.step(), "pcap");
    EXPECT_EQ(status.error_number(), ENOENT);
    EXPECT_FALSE(run.IsRunning());
  }
  {
    // No capture and no writers: only the run's own bookkeeping observes.
    RunSettings settings = Settings(server.port());
    settings.outputs = SessionOutputs();
    settings.outputs.capture_limit = 0;
    ForwardingRun run;
    ASSERT_TRUE(run.Start(settings, nullptr, {}).ok());
    EXPECT_FALSE(run.capture());
    Socket socket = testing::ConnectLoopback(run.BoundPort());
    ASSERT_EQ(testing::SendAndRead(socket.fd(), socket.fd(), "x"), "x");
    run.Stop({});
    EXPECT_EQ(trace_.Contents(), "");
  }
  {
    // Each Start makes a new store; the last one stays readable after Stop.
    ForwardingRun run;
    ASSERT_TRUE(run.Start(Settings(server.port()), nullptr, {}).ok());
    const std::shared_ptr<CaptureStore> first = run.capture();
    run.Stop({});
    const Status again = run.Start(Settings(server.port()), nullptr, {});
    ASSERT_TRUE(again.ok()) << again.Message();
    EXPECT_NE(run.capture(), first);
    run.Stop({});
    EXPECT_TRUE(run.capture());
  }
}

// A stop waits for the log at most its time limit: a log target that
// blocks for good (a FIFO never read) is left behind and the stop says what
// it had not delivered. In-process, with a short limit; the stop runs on a
// thread of its own, so one that waits for good fails instead of hanging.
TEST_F(ForwardingRunOutputsTest, AStopGivesUpOnABlockedLogAfterItsTimeLimit) {
#if defined(_WIN32)
  GTEST_SKIP() << "POSIX only";
#else
  const std::string fifo = (directory_ / "log.fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Socket reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));  // never reads
  // Answers nothing, so only the client's direction logs: one record waits.
  TestServer server([](SocketHandle fd) { testing::ReadUntilEnd(fd); });
  RunSettings settings = Settings(server.port());
  settings.outputs = SessionOutputs();
  settings.outputs.capture_limit = 0;
  settings.log.write_to_file = true;
  settings.log.log_synchronously = true;
  settings.log.log_file_name = fifo;
  ForwardingRun run;
  run.set_stop_time_limit(std::chrono::milliseconds(300));
  ASSERT_TRUE(run.Start(settings, nullptr, {}).ok());
  Socket client = testing::ConnectLoopback(run.BoundPort());
  std::thread sender([&] { testing::SendBytes(client.fd(), std::string(1 << 20, 'x')); });
  // The relay thread is blocked writing a record: it holds a use of the
  // sinks while the FIFO, nearly full (64 KiB), has stopped filling.
  int last_queued = -1;
  int unchanged = 0;
  EXPECT_TRUE(testing::WaitUntil([&] {
    int queued = 0;
    if (::ioctl(Descriptor(reader.fd()), FIONREAD, &queued) != 0) return false;
    unchanged = queued == last_queued ? unchanged + 1 : 0;
    last_queued = queued;
    return queued >= 40000 && unchanged >= 5 && run.log_sinks().handle->UsesInFlight() >= 1;
  }));
  const auto stopping = std::chrono::steady_clock::now();
  std::future<SinkRelease> stopped = std::async(std::launch::async, [&] { return run.Stop({}); });
  EXPECT_EQ(stopped.wait_for(std::chrono::seconds(3)), std::future_status::ready);
  EXPECT_GE(std::chrono::steady_clock::now() - stopping, std::chrono::milliseconds(250));
  // Reading lets the relay thread go; its session was reset.
  EXPECT_TRUE(testing::WaitUntil([&] {
    char buffer[65536];
    while (::read(Descriptor(reader.fd()), buffer, sizeof buffer) > 0) {
    }
    return SocketLayer::LiveRegistrations() == 0;
  }));
  sender.join();
  const SinkRelease release = stopped.get();
  EXPECT_FALSE(release.complete);
  EXPECT_EQ(release.records_in_flight, 1u);
  EXPECT_TRUE(run.left_sinks_behind());
#endif
}

}  // namespace
}  // namespace portwick

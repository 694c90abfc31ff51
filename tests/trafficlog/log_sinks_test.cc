#include "trafficlog/log_sinks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <typeindex>
#include <vector>

#include "trafficlog/file_log_sink.h"
#include "trafficlog/queued_file_log_sink.h"
#include "trafficlog/queued_window_log_sink.h"
#include "trafficlog/window_log_sink.h"
#include "trafficlog_test_support.h"

namespace portwick {
namespace {

using logtesting::FileExists;
using logtesting::OwnerThreadPane;
using logtesting::ReadFile;
using logtesting::RecordingPane;
using logtesting::TempDir;
using logtesting::WaitUntil;

// Writes one record through the handle the way a relay does; false when the
// handle has been detached.
bool Relay(LogSinkHandle& handle, const std::string& record) {
  LogSinkHandle::Use use = handle.Acquire();
  if (!use) return false;
  LogSink* sink = use.sink();
  LogCall call;
  sink->Write(call, record.c_str(), static_cast<int32_t>(record.size()));
  const int32_t length = sink->OutputLength(call);
  EXPECT_EQ(std::string(sink->OutputData(call), length), record);
  sink->ReleaseOutput(call);
  return true;
}

struct Combination {
  bool write_to_file;
  bool show_in_output;
  bool log_synchronously;
  std::vector<std::type_index> children;
};

TEST(LogSinksTest, BuildsTheChainEachCombinationAsksFor) {
  const std::type_index file(typeid(FileLogSink));
  const std::type_index queued_file(typeid(QueuedFileLogSink));
  const std::type_index window(typeid(WindowLogSink));
  const std::type_index queued_window(typeid(QueuedWindowLogSink));
  const Combination combinations[] = {
      {false, false, true, {}},           {false, false, false, {}},
      {true, false, true, {file}},        {true, false, false, {queued_file}},
      {false, true, true, {window}},      {false, true, false, {queued_window}},
      {true, true, true, {file, window}}, {true, true, false, {queued_file, queued_window}},
  };
  for (const Combination& c : combinations) {
    SCOPED_TRACE(::testing::Message() << "file " << c.write_to_file << " output "
                                      << c.show_in_output << " sync " << c.log_synchronously);
    TempDir dir;
    RecordingPane pane;
    LogSettings settings{c.write_to_file, c.show_in_output, c.log_synchronously,
                         dir.File("traffic.log")};
    LogSinks sinks;
    std::shared_ptr<LogSinkHandle> handle = BuildLogSinks(sinks, settings, &pane);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle, sinks.handle);
    ASSERT_NE(sinks.chain, nullptr);
    EXPECT_EQ(sinks.file_sink != nullptr, c.write_to_file);
    EXPECT_EQ(sinks.window_sink != nullptr, c.show_in_output);
    std::vector<std::type_index> children;
    for (LogSink* child : sinks.chain->sinks()) children.emplace_back(typeid(*child));
    EXPECT_EQ(children, c.children);
    if (c.write_to_file) {
      EXPECT_EQ(sinks.chain->sinks().front(), sinks.file_sink.get());
    }
    if (c.show_in_output) {
      EXPECT_EQ(sinks.chain->sinks().back(), sinks.window_sink.get());
    }
    EXPECT_FALSE(FileExists(settings.log_file_name));  // not opened at build

    const std::string first("GET /\r\n");
    const std::string second("x\0hidden", 8);
    ASSERT_TRUE(Relay(*handle, first));
    ASSERT_TRUE(Relay(*handle, second));
    ReleaseLogSinks(sinks, {});
    EXPECT_EQ(sinks.file_sink, nullptr);
    EXPECT_EQ(sinks.window_sink, nullptr);
    EXPECT_EQ(sinks.chain, nullptr);
    EXPECT_EQ(sinks.handle, nullptr);
    EXPECT_TRUE(handle->IsDetached());
    EXPECT_FALSE(Relay(*handle, "late"));

    if (c.write_to_file) {
      EXPECT_EQ(ReadFile(settings.log_file_name), first + second);
    } else {
      EXPECT_FALSE(FileExists(settings.log_file_name));
    }
    // The pane gets the text up to a record's first zero byte, nothing between.
    EXPECT_EQ(pane.Text(), c.show_in_output ? "GET /\r\nx" : "");
    ReleaseLogSinks(sinks, {});  // nothing left: does nothing
  }
}

// A pane that notes what the log file held when each record reached it.
class FileWatchingPane : public OutputPane {
 public:
  explicit FileWatchingPane(std::string file) : file_(std::move(file)) {}
  void AppendText(const char* text) override { seen_.push_back(text + ("|" + ReadFile(file_))); }
  std::vector<std::string> seen_;

 private:
  std::string file_;
};

TEST(LogSinksTest, TheFileGetsEachRecordBeforeThePane) {
  TempDir dir;
  const std::string file = dir.File("traffic.log");
  FileWatchingPane pane(file);
  LogSinks sinks;
  auto handle = BuildLogSinks(sinks, LogSettings{true, true, true, file}, &pane);
  ASSERT_TRUE(Relay(*handle, "one"));
  ASSERT_TRUE(Relay(*handle, "two"));
  ReleaseLogSinks(sinks, {});
  EXPECT_EQ(pane.seen_, (std::vector<std::string>{"one|one", "two|onetwo"}));
}

TEST(LogSinksTest, BuildingAgainReleasesTheEarlierSinksFirst) {
  TempDir dir;
  RecordingPane pane;
  LogSinks sinks;
  auto first = BuildLogSinks(sinks, LogSettings{true, true, false, dir.File("a.log")}, &pane);
  ASSERT_TRUE(Relay(*first, "queued"));
  auto second = BuildLogSinks(sinks, LogSettings{true, false, true, dir.File("b.log")}, &pane);
  // The queued sinks delivered what they held before they went.
  EXPECT_TRUE(first->IsDetached());
  EXPECT_EQ(ReadFile(dir.File("a.log")), "queued");
  EXPECT_EQ(pane.Text(), "queued");
  ASSERT_TRUE(Relay(*second, "sync"));
  EXPECT_EQ(ReadFile(dir.File("b.log")), "sync");
}

// Relays keep writing while the owner releases the sinks: they must see the
// handle refuse them afterwards, and every record whose Write returned is in
// the file exactly once and whole.
class ReleaseWhileRelayingTest : public ::testing::TestWithParam<bool> {};

TEST_P(ReleaseWhileRelayingTest, NothingIsLostTornOrDoubled) {
  TempDir dir;
  const std::string file = dir.File("traffic.log");
  RecordingPane pane;
  LogSinks sinks;
  auto handle = BuildLogSinks(sinks, LogSettings{true, true, GetParam(), file}, &pane);
  constexpr int kThreads = 6;
  constexpr size_t kRecordSize = 32;
  std::vector<std::atomic<int>> completed(kThreads);
  std::vector<std::thread> relays;
  for (int t = 0; t < kThreads; ++t) {
    relays.emplace_back([&, t] {
      for (int i = 0;; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "[%d:%08d:...................]", t, i);
        const std::string record(text);
        EXPECT_EQ(record.size(), kRecordSize);
        if (!Relay(*handle, record)) return;
        ++completed[t];
      }
    });
  }
  auto total = [&] {
    int sum = 0;
    for (const auto& count : completed) sum += count;
    return sum;
  };
  ASSERT_TRUE(WaitUntil([&] { return total() >= 3000; }));
  ReleaseLogSinks(sinks, {});
  for (std::thread& relay : relays) relay.join();
  EXPECT_TRUE(handle->IsDetached());

  const std::string content = ReadFile(file);
  ASSERT_EQ(content.size() % kRecordSize, 0u);
  EXPECT_EQ(content.size() / kRecordSize, static_cast<size_t>(total()));
  std::vector<int> next(kThreads, 0);
  for (size_t at = 0; at < content.size(); at += kRecordSize) {
    int t = -1;
    int i = -1;
    ASSERT_EQ(std::sscanf(content.c_str() + at, "[%d:%d:", &t, &i), 2) << "at " << at;
    ASSERT_TRUE(t >= 0 && t < kThreads);
    ASSERT_EQ(i, next[t]) << "writer " << t;
    ++next[t];
    ASSERT_EQ(content[at + kRecordSize - 1], ']');
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], completed[t]);
  // The pane got the same records, interleaved across relays in its own order.
  auto sorted_records = [&](const std::string& text) {
    std::vector<std::string> records;
    for (size_t at = 0; at + kRecordSize <= text.size(); at += kRecordSize) {
      records.push_back(text.substr(at, kRecordSize));
    }
    std::sort(records.begin(), records.end());
    return records;
  };
  const std::string shown = pane.Text();
  EXPECT_EQ(shown.size(), content.size());
  EXPECT_TRUE(sorted_records(shown) == sorted_records(content));
}

INSTANTIATE_TEST_SUITE_P(Modes, ReleaseWhileRelayingTest, ::testing::Bool(),
                         [](const auto& test) { return test.param ? "Sync" : "Queued"; });

// A synchronous pane delivery waits for the owner thread; releasing must
// serve it instead of waiting forever.
TEST(LogSinksTest, ReleaseServesEventsForADeliveryInFlight) {
  OwnerThreadPane pane;
  LogSinks sinks;
  auto handle = BuildLogSinks(sinks, LogSettings{false, true, true, ""}, &pane);
  std::thread relay([&] { EXPECT_TRUE(Relay(*handle, "in flight")); });
  ASSERT_TRUE(WaitUntil([&] { return pane.Requests() == 1; }));
  ReleaseLogSinks(sinks, [&] { pane.Serve(); });
  relay.join();
  EXPECT_EQ(pane.Text(), "in flight");
}

// Releasing again (and building anew) from inside the serve_events of a
// release in progress must neither destroy anything twice nor leak the new
// sinks.
TEST(LogSinksTest, NestedReleaseAndBuildDuringServeEvents) {
  TempDir dir;
  OwnerThreadPane pane;
  LogSinks sinks;
  bool nested = false;
  bool releasing_seen = false;
  std::shared_ptr<LogSinkHandle> inner;
  ServeEvents serve = [&] {
    pane.Serve();
    if (nested) return;
    nested = true;
    releasing_seen = sinks.releasing;
    ReleaseLogSinks(sinks, serve);
    ReleaseLogSinks(sinks, serve);
    inner = BuildLogSinks(sinks, LogSettings{true, false, true, dir.File("b.log")}, &pane, serve);
  };
  auto outer =
      BuildLogSinks(sinks, LogSettings{true, true, false, dir.File("a.log")}, &pane, serve);
  ASSERT_TRUE(Relay(*outer, "queued"));
  // The queued pane worker waits for the owner thread, so the release has to
  // serve events, and the nested calls run inside it.
  ReleaseLogSinks(sinks, serve);
  EXPECT_TRUE(nested);
  EXPECT_TRUE(releasing_seen);
  EXPECT_FALSE(sinks.releasing);
  EXPECT_TRUE(outer->IsDetached());
  EXPECT_EQ(pane.Text(), "queued");
  EXPECT_EQ(ReadFile(dir.File("a.log")), "queued");

  // What the nested build made stays in place and works.
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(sinks.handle, inner);
  ASSERT_NE(sinks.file_sink, nullptr);
  ASSERT_TRUE(Relay(*inner, "new run"));
  ReleaseLogSinks(sinks, serve);
  EXPECT_EQ(ReadFile(dir.File("b.log")), "new run");
  EXPECT_TRUE(inner->IsDetached());
}

TEST(LogSinksTest, DestroyingTheSetReleasesWhatIsLeft) {
  TempDir dir;
  RecordingPane pane;
  std::shared_ptr<LogSinkHandle> handle;
  {
    LogSinks sinks;
    handle = BuildLogSinks(sinks, LogSettings{true, true, false, dir.File("a.log")}, &pane);
    ASSERT_TRUE(Relay(*handle, "kept"));
  }
  EXPECT_TRUE(handle->IsDetached());
  EXPECT_EQ(ReadFile(dir.File("a.log")), "kept");
  EXPECT_EQ(pane.Text(), "kept");
}

// A log file that is a FIFO whose reader never reads blocks the file sink's
// writes for good. A release with a deadline gives up then, leaves the sinks
// behind and says what they still hold; it must not wait for ever.
TEST(LogSinksTest, ReleaseBeforeADeadlineLeavesBlockedSinksBehind) {
#if defined(_WIN32)
  GTEST_SKIP() << "POSIX only";
#else
  for (const bool synchronously : {true, false}) {
    SCOPED_TRACE(synchronously ? "synchronous" : "queued");
    TempDir dir;
    const std::string fifo = dir.File("traffic.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const int pipe_size = fcntl(reader, F_GETPIPE_SZ);
    ASSERT_GT(pipe_size, 0);

    LogSinks sinks;
    std::shared_ptr<LogSinkHandle> handle =
        BuildLogSinks(sinks, LogSettings{true, false, synchronously, fifo}, nullptr);
    // More than the pipe holds: the write blocks once the pipe is full.
    const std::string record(static_cast<size_t>(pipe_size) * 2, 'r');
    std::thread relay([&] { Relay(*handle, record); });
    if (synchronously) {
      ASSERT_TRUE(WaitUntil([&] { return handle->UsesInFlight() == 1; }));
    } else {
      relay.join();
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    const SinkRelease release = ReleaseLogSinksBefore(sinks, deadline, {});
    EXPECT_GE(std::chrono::steady_clock::now(), deadline);
    EXPECT_FALSE(release.complete);
    EXPECT_EQ(release.records_in_flight, synchronously ? 1u : 0u);
    EXPECT_EQ(release.file_records, synchronously ? 0u : 1u);
    EXPECT_EQ(release.file_bytes, synchronously ? 0u : record.size());
    EXPECT_EQ(sinks.chain, nullptr);

    // Reading the FIFO lets the blocked write finish, with every byte.
    std::string received;
    char buffer[65536];
    ASSERT_TRUE(WaitUntil([&] {
      const ssize_t n = read(reader, buffer, sizeof buffer);
      if (n > 0) received.append(buffer, static_cast<size_t>(n));
      return received.size() >= record.size() || n == 0;
    }));
    EXPECT_EQ(received, record);
    if (relay.joinable()) relay.join();
    close(reader);
  }
#endif
}

}  // namespace
}  // namespace portwick

#include "trafficlog/queued_log_sink.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "trafficlog_test_support.h"

namespace portwick {
namespace {

using logtesting::WaitUntil;

// A gate that blocks deliveries while it is closed.
class Gate {
 public:
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void Pass() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = true;
};

// Keeps every delivered record (with its trailing zero byte checked) and the
// most bytes the sink held during any delivery.
class RecordingSink : public QueuedLogSink {
 public:
  explicit RecordingSink(Options options = {}, Gate* gate = nullptr)
      : QueuedLogSink(std::move(options)), gate_(gate) {}
  ~RecordingSink() override { Stop(); }

  std::vector<std::string> Records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }
  size_t Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
  }
  size_t MostHeld() const { return most_held_; }
  int Deliveries() const { return deliveries_; }
  bool WaitForCount(size_t count) const {
    return WaitUntil([&] { return Count() >= count; });
  }

 protected:
  void Output(const char* data, int32_t length) override {
    ++deliveries_;
    most_held_ = std::max(most_held_.load(), QueuedBytes());
    if (gate_ != nullptr) gate_->Pass();
    EXPECT_EQ(data[length], '\0');
    std::lock_guard<std::mutex> lock(mutex_);
    records_.emplace_back(data, static_cast<size_t>(length));
  }

 private:
  Gate* const gate_;
  mutable std::mutex mutex_;
  std::vector<std::string> records_;
  std::atomic<size_t> most_held_{0};
  std::atomic<int> deliveries_{0};
};

void Write(LogSink& sink, const std::string& record) {
  LogCall call;
  sink.Write(call, record.c_str(), static_cast<int32_t>(record.size()));
  EXPECT_EQ(sink.OutputData(call), record.c_str());
  EXPECT_EQ(sink.OutputLength(call), static_cast<int32_t>(record.size()));
  sink.ReleaseOutput(call);
}

QueuedLogSink::Options SleepyOptions(size_t bound = QueuedLogSink::kMaxQueuedBytes) {
  QueuedLogSink::Options options;
  options.drain_period = std::chrono::hours(1);  // only a wake makes it drain
  options.max_queued_bytes = bound;
  return options;
}

TEST(QueuedLogSinkTest, DeliversOwnCopiesWholeIncludingZeroBytes) {
  RecordingSink sink(SleepyOptions());
  std::string buffer("a\0b", 3);
  Write(sink, buffer);
  buffer.assign("zzz");  // the caller reuses its buffer at once
  Write(sink, std::string());
  Write(sink, std::string("\0", 1));
  sink.Stop();
  EXPECT_EQ(sink.Records(),
            (std::vector<std::string>{std::string("a\0b", 3), "", std::string("\0", 1)}));
}

// Records of every size, from empty to larger than a queue buffer, filling
// several buffers: each arrives intact and in order.
TEST(QueuedLogSinkTest, RecordsOfEverySizeArriveIntactAcrossBuffers) {
  const size_t sizes[] = {0,      1,
                          10384,  QueuedLogSink::kChunkSize + 3,
                          700000, 10384,
                          5,      QueuedLogSink::kChunkSize - 4,
                          0,      2 * QueuedLogSink::kChunkSize};
  std::vector<std::string> expected;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    std::string record(sizes[i], '\0');
    for (size_t j = 0; j < record.size(); ++j) record[j] = static_cast<char>(i * 31 + j * 7);
    expected.push_back(std::move(record));
  }
  RecordingSink sink;
  for (const std::string& record : expected) Write(sink, record);
  sink.Stop();
  const std::vector<std::string> records = sink.Records();
  ASSERT_EQ(records.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_TRUE(records[i] == expected[i]) << "record " << i << " of " << sizes[i] << " bytes";
  }
}

// Each writer's records arrive in its order and nothing is lost or doubled,
// with a roomy queue and with one so small that writers keep waiting.
TEST(QueuedLogSinkTest, ConcurrentWritersKeepTheirOrder) {
  for (size_t bound : {QueuedLogSink::kMaxQueuedBytes, size_t{256}}) {
    SCOPED_TRACE("bound " + std::to_string(bound));
    QueuedLogSink::Options options;
    options.max_queued_bytes = bound;
    RecordingSink sink(options);
    constexpr int kThreads = 8;
    constexpr int kRecords = 1000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kRecords; ++i) {
          Write(sink, std::to_string(t) + ":" + std::to_string(i));
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    sink.Stop();

    std::vector<int> next(kThreads, 0);
    for (const std::string& record : sink.Records()) {
      const int t = std::stoi(record.substr(0, record.find(':')));
      const int i = std::stoi(record.substr(record.find(':') + 1));
      ASSERT_EQ(i, next[t]) << "writer " << t;
      ++next[t];
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kRecords) << "writer " << t;
    EXPECT_LE(sink.MostHeld(), bound);
  }
}

// The worker has drained and gone to sleep for an hour; Stop must wake it and
// deliver what was written during the sleep.
TEST(QueuedLogSinkTest, StopWhileSleepingDeliversEverything) {
  RecordingSink sink(SleepyOptions(64));
  // Past half the bound: this wakes the worker, which delivers it and sleeps.
  Write(sink, std::string(40, 'w'));
  ASSERT_TRUE(sink.WaitForCount(1));
  ASSERT_TRUE(WaitUntil([&] { return sink.QueuedBytes() == 0; }));
  Write(sink, "b");
  Write(sink, "c");
  sink.Stop();
  EXPECT_EQ(sink.Records(), (std::vector<std::string>{std::string(40, 'w'), "b", "c"}));
  EXPECT_EQ(sink.state(), QueuedLogSink::WorkerState::WorkerStopped);
  sink.Stop();  // returns at once
}

TEST(QueuedLogSinkTest, StopWhileDrainingDeliversEverything) {
  Gate gate;
  gate.Close();
  RecordingSink sink(SleepyOptions(), &gate);
  constexpr int kRecords = 50;
  // The worker's first pass finds the record at once or Stop wakes it.
  Write(sink, "0");
  std::thread stopper;
  for (int i = 1; i < kRecords; ++i) {
    Write(sink, std::to_string(i));
    if (i == kRecords / 2) stopper = std::thread([&] { sink.Stop(); });
  }
  ASSERT_TRUE(WaitUntil([&] { return sink.Deliveries() >= 1; }));
  ASSERT_TRUE(WaitUntil([&] { return sink.state() != QueuedLogSink::WorkerState::WorkerRunning; }));
  gate.Open();
  stopper.join();
  std::vector<std::string> expected;
  for (int i = 0; i < kRecords; ++i) expected.push_back(std::to_string(i));
  EXPECT_EQ(sink.Records(), expected);
  EXPECT_EQ(sink.QueuedBytes(), 0u);
}

TEST(QueuedLogSinkTest, DestroyedRightAwayEndsCleanlyAndLosesNothing) {
  for (int round = 0; round < 50; ++round) {
    int delivered = 0;
    {
      RecordingSink sink(SleepyOptions());
      for (int i = 0; i < round % 3; ++i) Write(sink, "r");
      sink.Stop();
      delivered = static_cast<int>(sink.Count());
    }
    EXPECT_EQ(delivered, round % 3) << "round " << round;
  }
  // No Stop of our own: only the destructors stop the worker.
  RecordingSink idle(SleepyOptions());
}

// Stop keeps serving the owner's events while it waits, since a delivery may
// need the owner thread (as a pane delivery needs the GUI thread).
TEST(QueuedLogSinkTest, StopServesEventsForADeliveryWaitingOnTheOwner) {
  logtesting::OwnerThreadPane pane;
  class PaneSink : public QueuedLogSink {
   public:
    explicit PaneSink(OutputPane* pane) : QueuedLogSink(SleepyOptions()), pane_(pane) {}
    ~PaneSink() override { Stop(); }

   protected:
    void Output(const char* data, int32_t) override { pane_->AppendText(data); }

   private:
    OutputPane* pane_;
  } sink(&pane);
  Write(sink, "one ");
  Write(sink, "two");
  sink.Stop([&] { pane.Serve(); });
  EXPECT_EQ(pane.Text(), "one two");
  EXPECT_GE(pane.Serves(), 1);
}

TEST(QueuedLogSinkTest, AFullQueueMakesWritersWaitAndDropsNothing) {
  constexpr size_t kBound = 99;  // eleven records fill it exactly
  Gate gate;
  gate.Close();
  RecordingSink sink(SleepyOptions(kBound), &gate);
  constexpr int kRecords = 40;
  std::atomic<int> written{0};
  std::thread writer([&] {
    for (int i = 0; i < kRecords; ++i) {
      char record[16];
      std::snprintf(record, sizeof record, "rec%05d", i);  // 8 bytes, 9 held
      Write(sink, record);
      ++written;
    }
  });
  // The first delivery blocks at the gate; the writer fills the queue and
  // then has to wait.
  ASSERT_TRUE(WaitUntil([&] { return sink.WaitingWriters() == 1; }));
  EXPECT_EQ(sink.QueuedBytes(), kBound);
  EXPECT_LT(written, kRecords);
  gate.Open();
  writer.join();
  sink.Stop();
  const std::vector<std::string> records = sink.Records();
  ASSERT_EQ(records.size(), static_cast<size_t>(kRecords));
  for (int i = 0; i < kRecords; ++i) {
    char expected[16];
    std::snprintf(expected, sizeof expected, "rec%05d", i);
    EXPECT_EQ(records[i], expected);
  }
  EXPECT_LE(sink.MostHeld(), kBound);
}

// True when every thread of this process but the caller sleeps. Windows has
// no per-thread state to read here: it gives the worker a moment to go to
// sleep instead; the callers still fail if a wake is missed.
bool OtherThreadsSleep() {
#if defined(_WIN32)
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  return true;
#else
  const std::string self = std::to_string(gettid());
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    const std::string stat = logtesting::ReadFile(task.path() / "stat");  // "TID (NAME) STATE"
    if (task.path().filename() != self && stat.find(") S ") == std::string::npos) return false;
  }
  return true;
#endif
}

// Heavy traffic is written a mebibyte at a time, not a drain period (an hour
// here) late. Nothing is queued yet, so a sleeping worker waits for work.
TEST(QueuedLogSinkTest, AMebibyteQueuedWakesTheWorker) {
  RecordingSink sink(SleepyOptions());
  ASSERT_TRUE(WaitUntil(OtherThreadsSleep));
  for (int i = 0; i < 1024; ++i) Write(sink, std::string(1023, 'm'));  // 1024 held each
  EXPECT_TRUE(WaitUntil([&] { return sink.Count() == 1024; }, std::chrono::seconds(5)));
}

TEST(QueuedLogSinkTest, ARecordLargerThanTheBoundStillPasses) {
  RecordingSink sink(SleepyOptions(16));
  Write(sink, "small");
  Write(sink, std::string(1000, 'L'));  // waits for an empty queue, then goes alone
  Write(sink, "after");
  sink.Stop();
  EXPECT_EQ(sink.Records(), (std::vector<std::string>{"small", std::string(1000, 'L'), "after"}));
}

// A delivery that never ends (a log target that blocks) makes a stop with a
// deadline give up then, with what is still held; once the delivery goes on,
// an ordinary stop delivers everything.
TEST(QueuedLogSinkTest, StopBeforeADeadlineGivesUpOnABlockedDelivery) {
  Gate gate;
  gate.Close();
  RecordingSink sink(SleepyOptions(), &gate);
  Write(sink, "one");
  Write(sink, "two");
  Write(sink, "three");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
  EXPECT_FALSE(sink.StopBefore(deadline));
  EXPECT_GE(std::chrono::steady_clock::now(), deadline);
  EXPECT_EQ(sink.QueuedRecords(), 3u);
  EXPECT_EQ(sink.QueuedBytes(), 3u + 3u + 5u + 3u);  // each record counts one more byte
  EXPECT_EQ(sink.Count(), 0u);
  gate.Open();
  EXPECT_TRUE(sink.StopBefore(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
  EXPECT_EQ(sink.Records(), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(sink.QueuedRecords(), 0u);
}

TEST(QueuedLogSinkTest, WritesAfterTheWorkerEndedDoNotBlock) {
  RecordingSink sink(SleepyOptions(16));
  sink.Stop();
  for (int i = 0; i < 10; ++i) Write(sink, "late record, longer than the bound");
  EXPECT_EQ(sink.Count(), 0u);
  EXPECT_EQ(sink.QueuedBytes(), 0u);
}

}  // namespace
}  // namespace portwick

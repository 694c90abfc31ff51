#include "base/bounded_byte_queue.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

namespace portwick {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool WaitUntil(const std::function<bool()>& condition, std::chrono::seconds limit = 10s) {
  const auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Keeps the bytes delivered, back to back; deliveries wait while it is held.
class Collector : public BoundedByteQueue::Consumer {
 public:
  void Hold(bool held) {
    MutexLock lock(&mutex_);
    held_ = held;
    changed_.SignalAll();
  }
  std::string text() const {
    MutexLock lock(&mutex_);
    return text_;
  }
  void Deliver(const char* data, size_t size) override {
    MutexLock lock(&mutex_);
    while (held_) changed_.Wait();
    text_.append(data, size);
  }

 private:
  mutable Mutex mutex_;
  CondVar changed_{&mutex_};
  bool held_ GUARDED_BY(mutex_) = false;
  std::string text_ GUARDED_BY(mutex_);
};

// A record costs its length.
bool Push(BoundedByteQueue& queue, const std::string& record) {
  return queue.Push(record.size(), record.size(),
                    [&](char* at) { std::memcpy(at, record.data(), record.size()); });
}

BoundedByteQueue::Options Sleepy(size_t bound) { return {.max_bytes = bound, .drain_period = 1h}; }

TEST(BoundedByteQueueTest, FillsTheBoundExactlyThenHoldsWritersAndLosesNothing) {
  Collector collector;
  collector.Hold(true);
  BoundedByteQueue queue(Sleepy(40), &collector);
  std::string expected;
  for (int i = 0; i < 30; ++i) expected += "rec" + std::to_string(i % 10);  // 4 bytes each
  std::thread writer([&] {
    for (size_t at = 0; at < expected.size(); at += 4) Push(queue, expected.substr(at, 4));
  });
  // Half the bound wakes the worker, whose delivery then holds its records
  // while more fill the bound exactly: ten records of four; the next waits.
  ASSERT_TRUE(WaitUntil([&] { return queue.WaitingWriters() == 1; }));
  EXPECT_EQ(queue.HeldCost(), 40u);
  EXPECT_EQ(queue.HeldRecords(), 10u);
  collector.Hold(false);
  writer.join();
  queue.Stop();
  EXPECT_EQ(collector.text(), expected);
}

// Should the record wait for good, the queue is left behind, so that the
// test fails instead of hanging.
TEST(BoundedByteQueueTest, ARecordLargerThanTheBoundPassesAnEmptyQueueAlone) {
  auto collector = std::make_shared<Collector>();
  auto* queue = new BoundedByteQueue(Sleepy(16), collector.get());
  auto passed = std::make_shared<std::atomic<bool>>(false);
  std::thread pusher([queue, passed] {
    Push(*queue, "small");
    Push(*queue, std::string(100, 'L'));
    *passed = true;
  });
  // Detached only when it waits for good: a std::thread detached at once is
  // not safe with MinGW's threads.
  if (!WaitUntil([&] { return passed->load(); }, 5s)) {
    pusher.detach();
    FAIL() << "the record waits for good";
  }
  pusher.join();
  delete queue;
  EXPECT_EQ(collector->text(), "small" + std::string(100, 'L'));
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
    std::ifstream file(task.path() / "stat");
    const std::string stat((std::istreambuf_iterator<char>(file)), {});  // "TID (NAME) STATE"
    if (task.path().filename() != self && stat.find(") S ") == std::string::npos) return false;
  }
  return true;
#endif
}

// A mebibyte queued is delivered at once, not a drain period (an hour) late.
// The worker is asleep first, so that it delivers nothing before.
TEST(BoundedByteQueueTest, AMebibyteQueuedWakesTheWorker) {
  Collector collector;
  BoundedByteQueue queue(Sleepy(size_t{16} << 20), &collector);
  ASSERT_TRUE(WaitUntil(OtherThreadsSleep));
  for (int i = 0; i < 1024; ++i) Push(queue, std::string(1024, 'm'));
  EXPECT_TRUE(WaitUntil([&] { return collector.text().size() == 1024 * 1024; }, 5s));
}

// A drain period without a wake delivers what is queued; a stop with a
// deadline gives up on a blocked delivery; a later stop delivers the rest,
// and pushes after it fail without copying.
TEST(BoundedByteQueueTest, DrainPeriodStopDeadlineAndLatePushes) {
  Collector collector;
  BoundedByteQueue queue({.max_bytes = 1000, .drain_period = 20ms}, &collector);
  ASSERT_TRUE(WaitUntil(OtherThreadsSleep));
  Push(queue, "timed");
  ASSERT_TRUE(WaitUntil([&] { return collector.text() == "timed"; }));
  collector.Hold(true);
  Push(queue, "one");
  Push(queue, "two");
  const auto deadline = Clock::now() + 50ms;
  EXPECT_FALSE(queue.StopBefore(deadline));
  EXPECT_GE(Clock::now(), deadline);
  EXPECT_EQ(queue.HeldCost(), 6u);
  collector.Hold(false);
  queue.Stop();
  EXPECT_EQ(collector.text(), "timedonetwo");
  EXPECT_EQ(queue.state(), BoundedByteQueue::State::kStopped);
  bool filled = false;
  EXPECT_FALSE(queue.Push(1, 1, [&](char*) { filled = true; }));
  EXPECT_FALSE(filled);
  EXPECT_EQ(queue.HeldCost(), 0u);
}

}  // namespace
}  // namespace portwick

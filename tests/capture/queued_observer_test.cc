#include "capture/queued_observer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/mutex.h"
#include "capture_events.h"

namespace portwick {
namespace {

using namespace std::chrono_literals;
using testing::EventFeeder;
using testing::RecordingObserver;

// Records what it gets, like RecordingObserver, and counts flushes. Can be
// made to block in OnChunk until released, standing for a slow terminal.
class RecordingWriter : public SessionEventWriter {
 public:
  explicit RecordingWriter(bool wants_chunks = true) : recorder_(wants_chunks) {}

  std::vector<std::string> lines() const { return recorder_.lines(); }
  int flushes() const { return flushes_.load(); }
  size_t flushed_lines() const { return flushed_lines_.load(); }

  void Block() {
    MutexLock lock(&mutex_);
    blocked_ = true;
  }
  void Release() {
    MutexLock lock(&mutex_);
    blocked_ = false;
    released_.SignalAll();
  }

  bool WantsChunks() const override { return recorder_.WantsChunks(); }
  void OnOpened(const SessionOpened& e) override { recorder_.OnOpened(e); }
  void OnConnected(const SessionConnected& e) override { recorder_.OnConnected(e); }
  void OnConnectFailed(const SessionConnectFailed& e) override { recorder_.OnConnectFailed(e); }
  void OnHalfClosed(const SessionHalfClosed& e) override { recorder_.OnHalfClosed(e); }
  void OnConditionActed(const SessionConditionActed& e) override { recorder_.OnConditionActed(e); }
  void OnClosed(const SessionClosed& e) override { recorder_.OnClosed(e); }
  void OnChunk(const SessionChunk& e) override {
    {
      MutexLock lock(&mutex_);
      while (blocked_) released_.Wait();
    }
    recorder_.OnChunk(e);
  }
  void Flush() override {
    flushed_lines_.store(recorder_.lines().size());
    flushes_.fetch_add(1);
  }
  void Close() override {
    closed_after_lines_.store(static_cast<int64_t>(recorder_.lines().size()));
  }
  // How many lines it had when it was closed (-1: not closed).
  int64_t closed_after_lines() const { return closed_after_lines_.load(); }

 private:
  RecordingObserver recorder_;
  std::atomic<int> flushes_{0};
  std::atomic<size_t> flushed_lines_{0};
  std::atomic<int64_t> closed_after_lines_{-1};
  Mutex mutex_;
  CondVar released_{&mutex_};
  bool blocked_ GUARDED_BY(mutex_) = false;
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds limit = 15s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(QueuedObserverTest, DeliversEverythingInOrderBeforeStopReturns) {
  auto writer = std::make_shared<RecordingWriter>();
  auto events_only = std::make_shared<RecordingWriter>(false);
  auto direct = std::make_shared<RecordingObserver>();
  {
    QueuedObserver queue({writer, events_only});
    EXPECT_TRUE(queue.WantsChunks());
    EventFeeder queued_feeder(&queue);
    EventFeeder direct_feeder(direct.get());
    for (EventFeeder* f : {&queued_feeder, &direct_feeder}) {
      f->Open(1);
      f->Connect(1);
      f->Chunk(1, Direction::kClientToServer, std::string("a\0b", 3));
      f->Chunk(1, Direction::kClientToServer, "late", 100ms);  // held by a condition
      f->FailConnect(2, "connect", 111, "Connection refused");
      f->Chunk(1, Direction::kServerToClient, std::string(3 << 20, 'z'));  // > one buffer
      f->HalfClose(1, Direction::kServerToClient);
      f->Acted(1, Direction::kClientToServer, SessionConditionActed::Kind::kStall, 7);
      f->Close(1, CloseReason::kBothFinished, 7, 3 << 20);
    }
    queue.Stop();
    EXPECT_EQ(writer->lines(), direct->lines());
    EXPECT_EQ(writer->flushed_lines(), direct->lines().size());
    // Closed by the stop itself, after everything, so the next run can
    // open the same file again.
    EXPECT_EQ(writer->closed_after_lines(), static_cast<int64_t>(direct->lines().size()));
    EXPECT_EQ(events_only->lines().size(), direct->lines().size() - 3);
    EXPECT_EQ(queue.QueuedBytes(), 0u);
    // Late events are dropped and counted.
    queued_feeder.Open(3);
    EXPECT_EQ(queue.dropped_events(), 1u);
  }
  EXPECT_EQ(writer->lines().size(), direct->lines().size());
}

TEST(QueuedObserverTest, NoWriterWantsChunks) {
  auto writer = std::make_shared<RecordingWriter>(false);
  QueuedObserver queue({writer});
  EXPECT_FALSE(queue.WantsChunks());
  EventFeeder feeder(&queue);
  feeder.Open(1);
  feeder.Chunk(1, Direction::kClientToServer, "ignored");
  queue.Stop();
  EXPECT_EQ(writer->lines().size(), 1u);
}

// Sessions on threads of their own (one per direction, as relays are): each
// session's events arrive complete and in the order each thread made them.
TEST(QueuedObserverTest, ConcurrentSessionsKeepTheirOrder) {
  constexpr int kSessions = 6;
  constexpr int kChunks = 300;
  auto writer = std::make_shared<RecordingWriter>();
  QueuedObserver::Options options;
  options.max_queued_bytes = 16 * 1024;  // small, so relays wait for room
  QueuedObserver queue({writer}, options);
  std::vector<std::thread> threads;
  for (SessionId id = 1; id <= kSessions; ++id) {
    EventFeeder opener(&queue);
    opener.Open(id);
    for (Direction direction : {Direction::kClientToServer, Direction::kServerToClient}) {
      threads.emplace_back([&queue, id, direction] {
        EventFeeder feeder(&queue);
        for (int i = 0; i < kChunks; ++i) {
          feeder.Chunk(id, direction, std::to_string(i) + std::string(100, '.'));
        }
        feeder.HalfClose(id, direction);
      });
    }
  }
  for (std::thread& thread : threads) thread.join();
  queue.Stop();
  EXPECT_EQ(queue.dropped_events(), 0u);

  // Per session and direction: the chunk numbers 0, 1, 2 ... then the FIN.
  std::map<std::string, int> next;
  for (const std::string& line : writer->lines()) {
    if (line.starts_with("open ")) continue;
    const bool chunk = line.starts_with("chunk ");
    // "chunk ID > SIZE N...." or "half-close ID >"
    const size_t id_end = line.find(' ', chunk ? 6 : 11);
    const std::string key = line.substr(0, id_end + 2).substr(chunk ? 6 : 11);
    if (chunk) {
      const size_t number_at = line.find(' ', id_end + 3) + 1;
      EXPECT_EQ(std::stoi(line.substr(number_at)), next[key]) << line;
      ++next[key];
    } else {
      EXPECT_EQ(next[key], kChunks) << line;
      next[key] = -1;
    }
  }
  EXPECT_EQ(next.size(), 2u * kSessions);
  for (const auto& [key, value] : next) EXPECT_EQ(value, -1) << key;
}

TEST(QueuedObserverTest, AFullQueueHoldsTheRelayInsteadOfDropping) {
  auto writer = std::make_shared<RecordingWriter>();
  QueuedObserver::Options options;
  options.max_queued_bytes = 4096;
  QueuedObserver queue({writer}, options);
  writer->Block();
  std::atomic<int> sent{0};
  std::thread relay([&] {
    EventFeeder feeder(&queue);
    for (int i = 0; i < 20; ++i) {
      feeder.Chunk(1, Direction::kClientToServer, std::string(1000, 'r'));
      sent.fetch_add(1);
    }
  });
  // The writer holds one batch; the relay fills the queue behind it and waits.
  ASSERT_TRUE(WaitFor([&] { return queue.WaitingWriters() == 1; }));
  const int sent_while_blocked = sent.load();
  EXPECT_LT(sent_while_blocked, 20);
  EXPECT_LE(queue.QueuedBytes(), 2 * options.max_queued_bytes);
  writer->Release();
  relay.join();
  queue.Stop();
  EXPECT_EQ(writer->lines().size(), 20u);
  EXPECT_EQ(queue.dropped_events(), 0u);
}

// A chunk larger than the bound passes an empty queue alone. Should it wait
// for good, the queue is left behind, so the test fails instead of hanging.
TEST(QueuedObserverTest, AChunkLargerThanTheBoundPassesAnEmptyQueue) {
  auto writer = std::make_shared<RecordingWriter>();
  auto* queue = new QueuedObserver({writer}, {.max_queued_bytes = 4096});
  auto passed = std::make_shared<std::atomic<bool>>(false);
  std::thread feeder([queue, passed] {
    EventFeeder(queue).Chunk(1, Direction::kClientToServer, std::string(10000, 'L'));
    *passed = true;
  });
  // Detached only when it waits for good: a std::thread detached at once is
  // not safe with MinGW's threads.
  if (!WaitFor([&] { return passed->load(); }, 5s)) {
    feeder.detach();
    FAIL() << "the chunk waits for good";
  }
  feeder.join();
  delete queue;
  EXPECT_EQ(writer->lines().size(), 1u);
}

}  // namespace
}  // namespace portwick

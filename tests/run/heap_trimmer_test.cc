#include "run/heap_trimmer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "test_server.h"

namespace portwick {
namespace {

// Opens `sessions`, then closes them from `threads` threads at once;
// returns how often the trimmer trimmed. `left_open` sessions stay open.
int TrimsAfter(int sessions, int threads, int left_open = 0) {
  std::atomic<int> trims{0};
  HeapTrimmer trimmer([&] { ++trims; }, std::chrono::milliseconds(0));
  for (int i = 0; i < sessions; ++i) trimmer.OnOpened({});
  std::vector<std::thread> closers;
  const int to_close = sessions - left_open;
  for (int t = 0; t < threads; ++t) {
    closers.emplace_back([&, t] {
      for (int i = t; i < to_close; i += threads) trimmer.OnClosed({});
    });
  }
  for (std::thread& closer : closers) closer.join();
  return trims;
}

TEST(HeapTrimmerTest, TrimsOnceWhenABurstIsOver) {
  const int burst = static_cast<int>(HeapTrimmer::kSessionsPerTrim);
  struct Case {
    int sessions;
    int threads;
    int left_open;
    int trims;
  };
  const Case kCases[] = {
      {burst, 1, 0, 1},      // a burst, all gone: one trim
      {burst * 4, 8, 0, 1},  // closed from many threads at once: still one
      {burst - 1, 1, 0, 0},  // too few sessions to be worth it
      {burst * 2, 4, 1, 0},  // one still open: not over yet
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.sessions << " sessions, " << c.left_open << " open");
    EXPECT_EQ(TrimsAfter(c.sessions, c.threads, c.left_open), c.trims);
  }
}

TEST(HeapTrimmerTest, EachBurstTrimsAgainSmallOnesAddUp) {
  int trims = 0;
  HeapTrimmer trimmer([&] { ++trims; }, std::chrono::milliseconds(0));
  // Sessions one after another: the count reaches 0 after each, and a trim
  // comes once enough of them have closed since the last.
  for (int i = 0; i < 3 * HeapTrimmer::kSessionsPerTrim; ++i) {
    trimmer.OnOpened({});
    trimmer.OnClosed({});
  }
  EXPECT_EQ(trims, 3);
}

// With a delay the trim runs that much later, on a thread of its own (when
// no session has opened meanwhile).
TEST(HeapTrimmerTest, ADelayedTrimRunsOnItsOwnThread) {
  auto trims = std::make_shared<std::atomic<int>>(0);
  HeapTrimmer trimmer([trims] { ++*trims; }, std::chrono::milliseconds(10));
  for (int64_t i = 0; i < HeapTrimmer::kSessionsPerTrim; ++i) trimmer.OnOpened({});
  for (int64_t i = 0; i < HeapTrimmer::kSessionsPerTrim; ++i) trimmer.OnClosed({});
  EXPECT_TRUE(testing::WaitUntil([&] { return trims->load() == 1; }));
}

}  // namespace
}  // namespace portwick

// The queue between the threads that append to the output pane and the GUI
// thread: bounded, oldest text first out, and it says when the pane must
// drop what it shows.
#include "ui/framework/qt/pane_text_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace portwick {
namespace {

QString Repeat(char c, qsizetype n) { return QString(n, QLatin1Char(c)); }

TEST(PaneTextQueueTest, AsksForOneDeliveryUntilTheGuiThreadHasTakenEverything) {
  PaneTextQueue queue(100);
  EXPECT_TRUE(queue.Push("ab"));
  EXPECT_FALSE(queue.Push("cd")) << "a delivery is asked for already";
  EXPECT_FALSE(queue.Push("")) << "nothing to show";
  PaneTextQueue::Batch first = queue.Take(3);
  EXPECT_EQ(first.text, "abc");
  EXPECT_FALSE(first.discard_shown);
  EXPECT_FALSE(queue.Push("e")) << "text is left, so the delivery goes on";
  EXPECT_EQ(queue.Take(100).text, "de");
  EXPECT_TRUE(queue.Push("f")) << "emptied: the next text asks again";
}

struct OverflowCase {
  const char* name;
  std::vector<qsizetype> pushes;  // sizes, filled with 'a', 'b', 'c', ...
  qsizetype max_chars;
  bool discard_shown;
};

class PaneTextQueueOverflowTest : public testing::TestWithParam<OverflowCase> {};

TEST_P(PaneTextQueueOverflowTest, KeepsTheNewestTextAndFlagsTheGap) {
  const OverflowCase& c = GetParam();
  PaneTextQueue queue(c.max_chars);
  QString all;
  char fill = 'a';
  for (qsizetype size : c.pushes) {
    queue.Push(Repeat(fill, size));
    all += Repeat(fill, size);
    ++fill;
  }
  const QString kept = all.right(std::min(all.size(), c.max_chars));
  EXPECT_EQ(queue.size(), kept.size());
  QString taken;
  bool discard = false;
  for (int i = 0; i < 1000 && queue.size() > 0; ++i) {
    PaneTextQueue::Batch batch = queue.Take(7);
    EXPECT_LE(batch.text.size(), 7);
    discard = discard || batch.discard_shown;
    taken += batch.text;
  }
  EXPECT_EQ(taken, kept);
  EXPECT_EQ(discard, c.discard_shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PaneTextQueueOverflowTest,
    testing::Values(OverflowCase{"fits", {10, 20, 30}, 60, false},
                    OverflowCase{"one_over", {10, 20, 31}, 60, true},
                    OverflowCase{"partly_into_a_piece", {40, 40, 5}, 60, true},
                    OverflowCase{"single_text_larger_than_the_bound", {5, 200}, 60, true},
                    OverflowCase{"many_small", std::vector<qsizetype>(500, 3), 100, true}),
    [](const testing::TestParamInfo<OverflowCase>& param) {
      return std::string(param.param.name);
    });

TEST(PaneTextQueueTest, ClearDropsTheTextAndTheGap) {
  PaneTextQueue queue(10);
  queue.Push(Repeat('x', 30));
  queue.Clear();
  EXPECT_EQ(queue.size(), 0);
  queue.Push("new");
  PaneTextQueue::Batch batch = queue.Take(100);
  EXPECT_EQ(batch.text, "new");
  EXPECT_FALSE(batch.discard_shown) << "what was dropped went with the clear";
}

TEST(PaneTextQueueTest, ConcurrentWritersStayWithinTheBoundAndKeepTheirOrder) {
  constexpr qsizetype kMax = 4096;
  PaneTextQueue queue(kMax);
  constexpr int kThreads = 4;
  constexpr int kRecords = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&queue, t] {
      for (int i = 0; i < kRecords; ++i) {
        queue.Push(QString("<%1:%2>").arg(t).arg(i, 4, 10, QLatin1Char('0')));
      }
    });
  }
  QString taken;
  for (std::thread& thread : threads) thread.join();
  EXPECT_LE(queue.size(), kMax);
  while (queue.size() > 0) taken += queue.Take(1000).text;
  // Whatever survived of one thread's records is in its order.
  for (int t = 0; t < kThreads; ++t) {
    const QString mark = QString("<%1:").arg(t);
    int last = -1;
    for (qsizetype at = taken.indexOf(mark); at >= 0; at = taken.indexOf(mark, at + 1)) {
      const int n = taken.mid(at + mark.size(), 4).toInt();
      EXPECT_GT(n, last);
      last = n;
    }
  }
  EXPECT_TRUE(taken.endsWith(u'>')) << "the newest record is whole";
}

}  // namespace
}  // namespace portwick

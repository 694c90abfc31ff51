// A session's draw of the forward's conditions, made again at every edit.
#include "engine/conditions/live_conditions.h"

#include <gtest/gtest.h>

namespace portwick {
namespace {

TEST(DrawForSessionTest, AnEditKeepsEachSessionsDrawForWhatItKept) {
  const Condition stall = *ParseCondition("up:stall=0,probability=0.5", nullptr);
  const Condition delay = *ParseCondition("down:delay=5ms,probability=0.5", nullptr);
  const Condition more_often = *ParseCondition("up:stall=0,probability=0.8", nullptr);
  const auto stalls = [](std::vector<Condition> c, uint64_t seed) {
    return DrawForSession(c, seed).up.stall.has_value();
  };
  constexpr int kSessions = 2000;
  int stalled = 0, delayed = 0, both = 0;
  for (uint64_t seed = 1; seed <= kSessions; ++seed) {
    const bool s = stalls({stall, delay}, seed);
    const bool d = DrawForSession({{stall, delay}}, seed).down.delay.count() != 0;
    // Taking one away or reordering draws nothing anew; a higher
    // probability only adds sessions.
    EXPECT_TRUE(stalls({stall}, seed) == s && stalls({delay, stall}, seed) == s) << seed;
    EXPECT_TRUE(!s || stalls({more_often}, seed)) << seed;
    stalled += s;
    delayed += d;
    both += s && d;
  }
  // Each acts on its share, independently of the other.
  EXPECT_NEAR(stalled, kSessions / 2, kSessions / 15);
  EXPECT_NEAR(delayed, kSessions / 2, kSessions / 15);
  EXPECT_NEAR(both, kSessions / 4, kSessions / 15);
}

}  // namespace
}  // namespace portwick

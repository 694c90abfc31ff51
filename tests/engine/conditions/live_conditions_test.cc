// A session's draw of the forward's conditions, as it is made again after
// every edit: what stays, what changes, and that it is a fair share.
#include "engine/conditions/live_conditions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace portwick {
namespace {

Condition Parse(const char* text) { return *ParseCondition(text, nullptr); }

bool Stalls(const std::vector<Condition>& conditions, uint64_t seed) {
  return DrawForSession(conditions, seed).up.stall.has_value();
}
bool Delays(const std::vector<Condition>& conditions, uint64_t seed) {
  return DrawForSession(conditions, seed).down.delay.count() != 0;
}

TEST(DrawForSessionTest, AnEditKeepsEachSessionsDrawForWhatItKept) {
  const Condition stall = Parse("up:stall=0,probability=0.5");
  const Condition delay = Parse("down:delay=5ms,probability=0.5");
  const Condition more_often = Parse("up:stall=0,probability=0.8");
  int stalled = 0, delayed = 0, both = 0;
  constexpr int kSessions = 2000;
  for (uint64_t seed = 1; seed <= kSessions; ++seed) {
    const bool s = Stalls({stall, delay}, seed);
    const bool d = Delays({stall, delay}, seed);
    // Taking one away, or putting it after the other, doesn't draw the other anew.
    EXPECT_EQ(Stalls({stall}, seed), s) << seed;
    EXPECT_EQ(Delays({delay}, seed), d) << seed;
    EXPECT_EQ(Delays({delay, stall}, seed), d) << seed;
    // A higher probability only adds sessions.
    EXPECT_TRUE(!s || Stalls({more_often}, seed)) << seed;
    stalled += s;
    delayed += d;
    both += s && d;
  }
  // Each acts on its share, and the two draw independently.
  EXPECT_NEAR(stalled, kSessions / 2, kSessions / 15);
  EXPECT_NEAR(delayed, kSessions / 2, kSessions / 15);
  EXPECT_NEAR(both, kSessions / 4, kSessions / 15);
  // Certain and never: whatever the seed.
  EXPECT_TRUE(Stalls({Parse("up:stall=0")}, 5));
  EXPECT_FALSE(Stalls({Parse("up:stall=0,probability=0")}, 5));
}

}  // namespace
}  // namespace portwick

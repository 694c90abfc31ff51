#include "engine/conditions/shaper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace portwick {
namespace {

using std::chrono::milliseconds;
using Clock = Shaper::Clock;

const Clock::time_point kStart = Clock::time_point() + std::chrono::hours(1);

Clock::time_point At(double ms) {
  return kStart +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
}

// A step: a chunk of `size` bytes (or, with size -1, an end of stream)
// arriving at `arrival` ms after the start, and what the shaper makes of it:
// how many bytes pass, the pieces as (size, due in ms after the start), and
// for an end of stream when it is due (-1: never).
struct Step {
  int size;
  double arrival;
  size_t passing;
  std::vector<std::pair<size_t, double>> pieces;
  bool cut = false;
  bool stalled = false;
  double end_due = 0;
};

struct ScheduleCase {
  const char* name;
  DirectionConditions conditions;
  std::vector<Step> steps;
};

DirectionConditions With(void (*edit)(DirectionConditions&)) {
  DirectionConditions conditions;
  edit(conditions);
  return conditions;
}

TEST(ShaperTest, Schedules) {
  const ScheduleCase kCases[] = {
      {"nothing", {}, {{100, 5, 100, {{100, 5}}}, {-1, 6, 0, {}, false, false, 6}}},
      {"delay keeps the spacing",
       With([](DirectionConditions& c) { c.delay = milliseconds(100); }),
       {{10, 0, 10, {{10, 100}}}, {20, 3, 20, {{20, 103}}}, {-1, 4, 0, {}, false, false, 104}}},
      {"slice with a pause, also across chunks",
       With([](DirectionConditions& c) {
         c.slice = 4;
         c.pause = milliseconds(5);
       }),
       {{10, 0, 10, {{4, 0}, {4, 5}, {2, 10}}}, {3, 1, 3, {{3, 15}}}}},
      {"slice without a pause",
       With([](DirectionConditions& c) { c.slice = 4; }),
       {{10, 0, 10, {{4, 0}, {4, 0}, {2, 0}}}}},
      {"rate: window pieces, spaced; one window of credit after idle",
       With([](DirectionConditions& c) { c.rate = 1000; }),
       {{30, 0, 30, {{10, 0}, {10, 10}, {10, 20}}},
        {25, 100, 25, {{10, 100}, {10, 100}, {5, 110}}},
        {-1, 111, 0, {}, false, false, 111}}},
      {"rate and slice: the smaller piece",
       With([](DirectionConditions& c) {
         c.rate = 1000;
         c.slice = 4;
       }),
       {{8, 0, 8, {{4, 0}, {4, 4}}}, {4, 1, 4, {{4, 8}}}, {4, 2, 4, {{4, 12}}}}},
      {"delay then rate",
       With([](DirectionConditions& c) {
         c.delay = milliseconds(50);
         c.rate = 2000;
       }),
       {{60, 0, 60, {{20, 50}, {20, 50}, {20, 60}}}}},
      {"cut in the middle of a chunk, then nothing",
       With([](DirectionConditions& c) {
         c.cut = 25;
         c.slice = 10;
       }),
       {{10, 0, 10, {{10, 0}}}, {20, 1, 15, {{10, 1}, {5, 1}}, true}, {5, 2, 0, {}, true}}},
      {"cut exactly at a chunk's end",
       With([](DirectionConditions& c) { c.cut = 10; }),
       {{10, 0, 10, {{10, 0}}, true}}},
      {"cut at 0: the first byte ends it",
       With([](DirectionConditions& c) { c.cut = 0; }),
       {{1, 7, 0, {}, true}}},
      {"stall: what comes from its time on stays",
       With([](DirectionConditions& c) { c.stall = milliseconds(50); }),
       {{10, 49.9, 10, {{10, 49.9}}},
        {10, 50, 0, {}, false, true},
        {-1, 60, 0, {}, false, true, -1}}},
      {"stall at once",
       With([](DirectionConditions& c) { c.stall = milliseconds(0); }),
       {{10, 0, 0, {}, false, true}}},
      {"close-delay after a delayed chunk",
       With([](DirectionConditions& c) {
         c.delay = milliseconds(100);
         c.close_delay = milliseconds(50);
       }),
       {{10, 0, 10, {{10, 100}}}, {-1, 1, 0, {}, false, false, 151}}},
      {"an end never before the last piece",
       With([](DirectionConditions& c) {
         c.slice = 1;
         c.pause = milliseconds(10);
         c.close_delay = milliseconds(5);
       }),
       {{3, 0, 3, {{1, 0}, {1, 10}, {1, 20}}}, {-1, 1, 0, {}, false, false, 20}}},
  };
  for (const ScheduleCase& c : kCases) {
    SCOPED_TRACE(c.name);
    Shaper shaper(c.conditions, kStart, 1);
    for (const Step& step : c.steps) {
      SCOPED_TRACE(step.arrival);
      if (step.size < 0) {
        const std::optional<Clock::time_point> due = shaper.EndDue(At(step.arrival));
        if (step.end_due < 0) {
          EXPECT_FALSE(due);
        } else {
          EXPECT_EQ(due, At(step.end_due));
        }
        continue;
      }
      const Shaper::Chunk chunk = shaper.Begin(static_cast<size_t>(step.size), At(step.arrival));
      EXPECT_EQ(chunk.passing, step.passing);
      EXPECT_EQ(chunk.cut, step.cut);
      EXPECT_EQ(chunk.stalled, step.stalled);
      std::vector<Shaper::Piece> expected;
      for (const auto& [size, due] : step.pieces) expected.push_back({size, At(due)});
      std::vector<Shaper::Piece> planned;
      while (std::optional<Shaper::Piece> piece = shaper.NextPiece()) planned.push_back(*piece);
      EXPECT_EQ(planned, expected);
    }
  }
}

// Jitter spreads the delay within its bounds, never reorders, and follows
// the seed alone.
TEST(ShaperTest, JitterStaysInBoundsKeepsOrderAndFollowsTheSeed) {
  DirectionConditions conditions;
  conditions.delay = milliseconds(100);
  conditions.jitter = milliseconds(10);
  Shaper first(conditions, kStart, 42);
  Shaper second(conditions, kStart, 42);
  std::vector<Clock::time_point> dues;
  for (int i = 0; i < 200; ++i) {
    const Clock::time_point arrival = At(i * 0.5);
    ASSERT_EQ(first.Begin(1, arrival).passing, 1u);
    second.Begin(1, arrival);
    const Clock::time_point due = first.NextPiece()->due;
    EXPECT_EQ(second.NextPiece()->due, due);
    EXPECT_LE(due, arrival + milliseconds(110));
    if (!dues.empty()) {
      EXPECT_GE(due, dues.back());
    }
    // Only order can hold a piece past its own jittered time.
    EXPECT_GE(due, arrival + milliseconds(90));
    dues.push_back(due);
  }
  EXPECT_NE(dues.front() - At(0), dues.back() - At(99.5)) << "no jitter drawn";
}

TEST(DrawConditionsTest, ProbabilityDirectionAndLaterReplaces) {
  auto parse = [](const char* text) { return *ParseCondition(text, nullptr); };
  const std::vector<Condition> conditions = {
      parse("both:delay=100ms"), parse("down:delay=5ms"), parse("up:cut=10,end=reset"),
      parse("up:rate=1K,probability=0"), parse("down:slice=2,probability=1")};
  std::mt19937_64 random(7);
  const SessionConditions drawn = DrawConditions(conditions, random);
  EXPECT_EQ(drawn.up.delay, milliseconds(100));
  EXPECT_EQ(drawn.down.delay, milliseconds(5));
  EXPECT_EQ(drawn.up.cut, 10u);
  EXPECT_EQ(drawn.up.cut_end, CutEnd::kReset);
  EXPECT_FALSE(drawn.down.cut);
  EXPECT_EQ(drawn.up.rate, 0u);
  EXPECT_EQ(drawn.down.slice, 2u);
  EXPECT_TRUE(DrawConditions({}, random).up.empty());

  // A probability of 0.5 acts on about half of the sessions.
  const std::vector<Condition> half = {parse("up:stall=0,probability=0.5")};
  int acted = 0;
  for (int session = 0; session < 1000; ++session) {
    if (!DrawConditions(half, random).up.empty()) ++acted;
  }
  EXPECT_GT(acted, 430);
  EXPECT_LT(acted, 570);
}

}  // namespace
}  // namespace portwick

#include "engine/conditions/condition.h"

#include <gtest/gtest.h>

#include <string>

namespace portwick {
namespace {

using std::chrono::milliseconds;

Condition Make(ConditionDirection direction, ConditionKind kind, milliseconds time,
               uint64_t bytes) {
  Condition condition;
  condition.direction = direction;
  condition.kind = kind;
  condition.time = time;
  condition.bytes = bytes;
  return condition;
}

// Each accepted form, what it reads as, and the text it is written back as.
TEST(ParseConditionTest, FormsAndTheirCanonicalText) {
  using D = ConditionDirection;
  using K = ConditionKind;
  struct Case {
    const char* text;
    Condition expected;
    const char* written;
  };
  Condition jittered = Make(D::kDown, K::kDelay, milliseconds(100), 0);
  jittered.jitter = milliseconds(10);
  Condition paused = Make(D::kBoth, K::kSlice, milliseconds(0), 1);
  paused.pause = milliseconds(2000);
  Condition reset = Make(D::kDown, K::kCut, milliseconds(0), 4096);
  reset.end = CutEnd::kReset;
  Condition half = Make(D::kUp, K::kStall, milliseconds(0), 0);
  half.probability = 0.25;
  const Case kCases[] = {
      {"down:delay=100ms,jitter=10ms", jittered, "down:delay=100ms,jitter=10ms"},
      {"UP:Rate=64K", Make(D::kUp, K::kRate, milliseconds(0), 65536), "up:rate=64K"},
      {"up:rate=1536", Make(D::kUp, K::kRate, milliseconds(0), 1536), "up:rate=1536"},
      {"both:rate=2m", Make(D::kBoth, K::kRate, milliseconds(0), 2 << 20), "both:rate=2M"},
      {"both:slice=1,pause=2s", paused, "both:slice=1,pause=2s"},
      {"down:cut=4096,end=reset", reset, "down:cut=4K,end=reset"},
      {"down:cut=0,end=fin", Make(D::kDown, K::kCut, milliseconds(0), 0), "down:cut=0"},
      {"up:stall=0,probability=0.25", half, "up:stall=0,probability=0.25"},
      {"up:stall=90s", Make(D::kUp, K::kStall, milliseconds(90000), 0), "up:stall=90s"},
      {"down:close-delay=2m", Make(D::kDown, K::kCloseDelay, milliseconds(120000), 0),
       "down:close-delay=2m"},
      {"up:delay=1500ms,probability=1", Make(D::kUp, K::kDelay, milliseconds(1500), 0),
       "up:delay=1500ms"},
      {"up:delay=1440m", Make(D::kUp, K::kDelay, milliseconds(86400000), 0), "up:delay=1440m"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    std::string error;
    const std::optional<Condition> parsed = ParseCondition(c.text, &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(*parsed, c.expected);
    EXPECT_EQ(ConditionText(*parsed), c.written);
    EXPECT_EQ(ParseCondition(c.written, nullptr), parsed);
  }
}

// Each refusal names the text at fault.
TEST(ParseConditionTest, RefusalsNameTheValue) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case kCases[] = {
      {"delay=100ms", "'delay=100ms' needs a direction first: up:, down: or both:"},
      {"sideways:delay=1s", "unknown direction 'sideways': up, down or both"},
      {"up:lag=1s", "unknown condition 'lag': delay, rate, slice, cut, stall or close-delay"},
      {"up:delay=-5ms", "duration '-5ms' is not a whole number with ms, s or m"},
      {"up:delay=100", "duration '100' is not a whole number with ms, s or m"},
      {"up:delay=1.5s", "duration '1.5s' is not a whole number with ms, s or m"},
      {"up:delay=1h", "duration '1h' is not a whole number with ms, s or m"},
      {"up:delay=", "duration '' is not a whole number with ms, s or m"},
      {"up:delay=1441m", "duration '1441m' is longer than 24 hours"},
      {"up:delay=99999999999999999999ms",
       "duration '99999999999999999999ms' is not a whole"
       " number with ms, s or m"},
      {"up:rate=0", "rate '0' lets nothing pass: at least 1 (stall=0 stops a direction)"},
      {"up:slice=0K", "slice '0K' lets nothing pass: at least 1 (stall=0 stops a direction)"},
      {"up:rate=-1K", "size '-1K' is not a whole number of bytes with K, M or G"},
      {"up:rate=1T", "size '1T' is not a whole number of bytes with K, M or G"},
      {"up:cut=1025G", "size '1025G' is larger than 1024G"},
      {"up:delay=1s,pause=1s", "'pause' is not an option of delay"},
      {"up:slice=1,jitter=1s", "'jitter' is not an option of slice"},
      {"up:cut=1,end=close", "end 'close': fin or reset"},
      {"up:cut=1,end", "'end' is not NAME=VALUE"},
      {"up:cut=1,", "'' is not NAME=VALUE"},
      {"up:stall=0,probability=1.5", "probability '1.5' is not a number from 0 to 1"},
      {"up:stall=0,probability=-0.1", "probability '-0.1' is not a number from 0 to 1"},
      {"up:stall=0,probability=nan", "probability 'nan' is not a number from 0 to 1"},
      {"up:stall=0,probability=", "probability '' is not a number from 0 to 1"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_FALSE(ParseCondition(c.text, &error));
    EXPECT_EQ(error, c.message);
  }
}

TEST(SpokenDurationTest, SaysTheDurationAsTheTraceDoes) {
  const std::pair<int64_t, const char*> kCases[] = {
      {0, "0 ms"},     {100, "100 ms"},   {999, "999 ms"}, {1000, "1 s"},
      {2500, "2.5 s"}, {1005, "1.005 s"}, {90000, "90 s"},
  };
  for (const auto& [ms, text] : kCases) EXPECT_EQ(SpokenDuration(milliseconds(ms)), text);
}

}  // namespace
}  // namespace portwick

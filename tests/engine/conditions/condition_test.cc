#include "engine/conditions/condition.h"

#include <gtest/gtest.h>

#include <string>

namespace portwick {
namespace {

using std::chrono::milliseconds;

// Each accepted form and the text it is written back as (which reads back
// the same), and the fields a few of them fill.
TEST(ParseConditionTest, FormsAndTheirCanonicalText) {
  const std::pair<const char*, const char*> kCases[] = {
      {"down:delay=100ms,jitter=10ms", "down:delay=100ms,jitter=10ms"},
      {"UP:Rate=64K", "up:rate=64K"},
      {"up:rate=1536", "up:rate=1536"},
      {"both:rate=2m", "both:rate=2M"},
      {"both:slice=1,pause=2000ms", "both:slice=1,pause=2s"},
      {"down:cut=4096,end=reset", "down:cut=4K,end=reset"},
      {"down:cut=0,end=fin", "down:cut=0"},
      {"up:stall=0,probability=0.25", "up:stall=0,probability=0.25"},
      {"down:close-delay=120s", "down:close-delay=2m"},
      {"up:delay=1500ms,probability=1", "up:delay=1500ms"},
      {"up:delay=1440m", "up:delay=1440m"},
  };
  for (const auto& [text, written] : kCases) {
    SCOPED_TRACE(text);
    std::string error;
    const std::optional<Condition> parsed = ParseCondition(text, &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(ConditionText(*parsed), written);
    EXPECT_EQ(ParseCondition(written, nullptr), parsed);
  }
  const Condition delay = *ParseCondition("down:delay=100ms,jitter=10ms", nullptr);
  EXPECT_EQ(delay.direction, ConditionDirection::kDown);
  EXPECT_EQ(delay.kind, ConditionKind::kDelay);
  EXPECT_EQ(delay.time, milliseconds(100));
  EXPECT_EQ(delay.jitter, milliseconds(10));
  const Condition cut = *ParseCondition("both:cut=4K,end=reset,probability=0.5", nullptr);
  EXPECT_EQ(cut.bytes, 4096u);
  EXPECT_EQ(cut.end, CutEnd::kReset);
  EXPECT_EQ(cut.probability, 0.5);
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
      {"up:delay=1441m", "duration '1441m' is longer than 24 hours"},
      {"up:delay=99999999999999999999ms",
       "duration '99999999999999999999ms' is not a whole"
       " number with ms, s or m"},
      {"up:rate=0", "rate '0' lets nothing pass: at least 1 (stall=0 stops a direction)"},
      {"up:rate=-1K", "size '-1K' is not a whole number of bytes with K, M or G"},
      {"up:cut=1025G", "size '1025G' is larger than 1024G"},
      {"up:delay=1s,pause=1s", "'pause' is not an option of delay"},
      {"up:cut=1,end=close", "end 'close': fin or reset"},
      {"up:cut=1,end", "'end' is not NAME=VALUE"},
      {"up:stall=0,probability=1.5", "probability '1.5' is not a number from 0 to 1"},
      {"up:stall=0,probability=nan", "probability 'nan' is not a number from 0 to 1"},
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

#include "engine/conditions/shaper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/conditions/shaped_sender.h"

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

// The up direction's conditions from their texts ("up:slice=4 up:rate=1K").
DirectionConditions Up(const std::string& texts) {
  std::vector<Condition> conditions;
  for (size_t at = 0; at < texts.size();) {
    const size_t space = std::min(texts.find(' ', at), texts.size());
    conditions.push_back(*ParseCondition(texts.substr(at, space - at), nullptr));
    at = space + 1;
  }
  std::mt19937_64 random(1);
  return DrawConditions(conditions, random).up;
}

TEST(ShaperTest, Schedules) {
  const std::pair<std::string, std::vector<Step>> kCases[] = {
      {"", {{100, 5, 100, {{100, 5}}}, {-1, 6, 0, {}, false, false, 6}}},
      {"up:delay=100ms",
       {{10, 0, 10, {{10, 100}}}, {20, 3, 20, {{20, 103}}}, {-1, 4, 0, {}, false, false, 104}}},
      // The pause also goes between chunks.
      {"up:slice=4,pause=5ms", {{10, 0, 10, {{4, 0}, {4, 5}, {2, 10}}}, {3, 1, 3, {{3, 15}}}}},
      {"up:slice=4", {{10, 0, 10, {{4, 0}, {4, 0}, {2, 0}}}}},
      // Window pieces, spaced; one window of credit after idle.
      {"up:rate=1000",
       {{30, 0, 30, {{10, 0}, {10, 10}, {10, 20}}},
        {25, 100, 25, {{10, 100}, {10, 100}, {5, 110}}},
        {-1, 111, 0, {}, false, false, 111}}},
      {"up:rate=1000 up:slice=4",
       {{8, 0, 8, {{4, 0}, {4, 4}}}, {4, 1, 4, {{4, 8}}}, {4, 2, 4, {{4, 12}}}}},
      {"up:delay=50ms up:rate=2000", {{60, 0, 60, {{20, 50}, {20, 50}, {20, 60}}}}},
      {"up:cut=25 up:slice=10",
       {{10, 0, 10, {{10, 0}}}, {20, 1, 15, {{10, 1}, {5, 1}}, true}, {5, 2, 0, {}, true}}},
      {"up:cut=10", {{10, 0, 10, {{10, 0}}, true}}},
      {"up:cut=0", {{1, 7, 0, {}, true}}},
      {"up:stall=50ms",
       {{10, 49.9, 10, {{10, 49.9}}},
        {10, 50, 0, {}, false, true},
        {-1, 60, 0, {}, false, true, -1}}},
      {"up:delay=100ms up:close-delay=50ms",
       {{10, 0, 10, {{10, 100}}}, {-1, 1, 0, {}, false, false, 151}}},
      // An end never goes before the last piece.
      {"up:slice=1,pause=10ms up:close-delay=5ms",
       {{3, 0, 3, {{1, 0}, {1, 10}, {1, 20}}}, {-1, 1, 0, {}, false, false, 20}}},
  };
  for (const auto& [texts, steps] : kCases) {
    SCOPED_TRACE(texts);
    Shaper shaper(Up(texts), kStart, 1);
    for (const Step& step : steps) {
      SCOPED_TRACE(step.arrival);
      if (step.size < 0) {
        const std::optional<Clock::time_point> due = shaper.EndDue(At(step.arrival));
        EXPECT_EQ(due, step.end_due < 0 ? std::nullopt : std::optional(At(step.end_due)));
        continue;
      }
      const Shaper::Chunk chunk = shaper.Admit(static_cast<size_t>(step.size), At(step.arrival));
      shaper.Plan(chunk.passing, At(step.arrival));
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
  Shaper first(Up("up:delay=100ms,jitter=10ms"), kStart, 42);
  Shaper second(Up("up:delay=100ms,jitter=10ms"), kStart, 42);
  std::vector<Clock::duration> delays;
  Clock::time_point last;
  for (int i = 0; i < 200; ++i) {
    const Clock::time_point arrival = At(i * 0.5);
    for (Shaper* shaper : {&first, &second})
      shaper->Plan(shaper->Admit(1, arrival).passing, arrival);
    const Clock::time_point due = first.NextPiece()->due;
    EXPECT_EQ(second.NextPiece()->due, due);
    // Only order can hold a piece past its own jittered time.
    EXPECT_TRUE(due >= last && due >= arrival + milliseconds(90) &&
                due <= arrival + milliseconds(110));
    last = due;
    delays.push_back(due - arrival);
  }
  EXPECT_NE(std::ranges::min(delays), std::ranges::max(delays)) << "no jitter drawn";
}

// A ShapedSender on the made-up clock: a wait moves the clock to its time,
// sends are kept with the time they went (ms after the start).
struct ShapedRun {
  Clock::time_point now = kStart;
  std::string sent;
  std::vector<double> times;
  ShapedSender sender;

  explicit ShapedRun(const std::string& texts) : sender(Up(texts), kStart, 1, Calls()) {}
  ShapedSenderCalls Calls() {
    ShapedSenderCalls calls;
    calls.send = [this](const char* data, size_t size) {
      sent.append(data, size);
      times.push_back(std::chrono::duration<double, std::milli>(now - kStart).count());
      return true;
    };
    calls.wait_until = [this](Clock::time_point due) {
      now = std::max(now, due);
      return true;
    };
    calls.on_piece = [](const char*, size_t, Clock::duration) {};
    return calls;
  }
};

// Chunks are held from their own arrival while later ones are taken, and
// leave in order; what is held stays within the limit, the oldest going
// first (at their time) when more comes.
TEST(ShapedSenderTest, HoldsEachChunkFromItsArrivalWithinItsLimit) {
  ShapedRun delayed("up:delay=100ms");
  EXPECT_EQ(delayed.sender.Take("aaa", 3, At(0)), ShapedSender::Outcome::kSent);
  EXPECT_EQ(delayed.sender.Take("bb", 2, At(10)), ShapedSender::Outcome::kSent);
  EXPECT_EQ(delayed.sender.Take("c", 1, At(20)), ShapedSender::Outcome::kSent);
  delayed.sender.SendDue(At(99));
  EXPECT_EQ(delayed.sent, "");
  EXPECT_EQ(delayed.sender.next_due(), At(100));
  delayed.sender.SendDue(At(105));
  EXPECT_EQ(delayed.sent, "aaa");
  EXPECT_EQ(delayed.sender.WaitForEnd(At(30)), ShapedSender::Outcome::kSent);
  EXPECT_EQ(delayed.sent, "aaabbc");
  EXPECT_EQ(delayed.times, (std::vector<double>{100, 110, 120}));
  EXPECT_EQ(delayed.now, At(130));  // the end after the delay too

  // The limit is the delay's worth at the rate: 1000 B/s for 100 + 10 ms.
  ShapedRun paced("up:delay=100ms up:rate=1000");
  EXPECT_EQ(paced.sender.held_limit(), 110u);
  std::string bytes(300, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 26);
  paced.sender.Take(bytes.data(), bytes.size(), At(0));
  // Windows of 10 bytes from 100 ms on (the second one's credit saved).
  EXPECT_EQ(paced.sent, bytes.substr(0, 190));
  EXPECT_EQ(paced.sender.held_bytes(), 110u);
  EXPECT_EQ(paced.now, At(270));

  ShapedRun long_delay("up:delay=1s");
  EXPECT_EQ(long_delay.sender.held_limit(), ShapedSender::kMaxHeldBytes);
  const std::string big(3 << 20, 'x');
  long_delay.sender.Take(big.data(), big.size(), At(0));
  long_delay.sender.Take(big.data(), big.size(), At(1));
  EXPECT_EQ(long_delay.sent.size(), big.size());
  EXPECT_EQ(long_delay.sender.held_bytes(), big.size());
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

#include "engine/conditions/shaped_sender.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace portwick {
namespace {

using std::chrono::milliseconds;
using Clock = ShapedSender::Clock;
using Outcome = ShapedSender::Outcome;

const Clock::time_point kStart = Clock::time_point() + std::chrono::hours(1);

// Records what the sender does, as "wait 100", "send abc" (the bytes), and
// refuses the wait or the send numbered `stop_at_wait` / `fail_at_send`.
struct Recorder {
  std::vector<std::string> log;
  int waits = 0;
  int sends = 0;
  int stop_at_wait = -1;
  int fail_at_send = -1;

  ShapedSenderCalls Calls() {
    ShapedSenderCalls calls;
    calls.wait_until = [this](Clock::time_point due) {
      log.push_back("wait " + std::to_string((due - kStart) / milliseconds(1)));
      return waits++ != stop_at_wait;
    };
    calls.on_piece = [this](const char*, size_t, Clock::duration held) {
      log.push_back("held " + std::to_string(held / milliseconds(1)));
    };
    calls.send = [this](const char* data, size_t size) {
      log.push_back("send " + std::string(data, size));
      return sends++ != fail_at_send;
    };
    return calls;
  }
};

TEST(ShapedSenderTest, WaitsSendsAndStopsAsTheConditionsAndCallsSay) {
  struct Case {
    const char* name;
    DirectionConditions conditions;
    int stop_at_wait;
    int fail_at_send;
    Outcome outcome;
    std::vector<std::string> log;
    uint64_t sent;
  };
  DirectionConditions sliced;
  sliced.slice = 2;
  sliced.pause = milliseconds(5);
  sliced.delay = milliseconds(100);
  DirectionConditions cut = sliced;
  cut.cut = 3;
  DirectionConditions stalled;
  stalled.stall = milliseconds(0);
  const Case kCases[] = {
      {"sliced and delayed",
       sliced,
       -1,
       -1,
       Outcome::kSent,
       {"wait 100", "held 100", "send ab", "wait 105", "held 105", "send cd", "wait 110",
        "held 110", "send e"},
       5},
      {"stopped in the second wait",
       sliced,
       1,
       -1,
       Outcome::kStopped,
       {"wait 100", "held 100", "send ab", "wait 105"},
       2},
      {"a failed send ends it",
       sliced,
       -1,
       0,
       Outcome::kFailed,
       {"wait 100", "held 100", "send ab"},
       0},
      {"cut after exactly its bytes",
       cut,
       -1,
       -1,
       Outcome::kCut,
       {"wait 100", "held 100", "send ab", "wait 105", "held 105", "send c"},
       3},
      {"stalled: nothing goes", stalled, -1, -1, Outcome::kStalled, {}, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Recorder recorder;
    recorder.stop_at_wait = c.stop_at_wait;
    recorder.fail_at_send = c.fail_at_send;
    ShapedSender sender(c.conditions, kStart, 1, recorder.Calls());
    EXPECT_EQ(sender.Send("abcde", 5, kStart), c.outcome);
    EXPECT_EQ(recorder.log, c.log);
    EXPECT_EQ(sender.sent(), c.sent);
  }
}

TEST(ShapedSenderTest, AnEndWaitsForItsDelayOrNeverGoesWhenStalled) {
  DirectionConditions conditions;
  conditions.close_delay = milliseconds(30);
  conditions.stall = milliseconds(50);
  Recorder recorder;
  ShapedSender sender(conditions, kStart, 1, recorder.Calls());
  EXPECT_EQ(sender.WaitForEnd(kStart + milliseconds(10)), Outcome::kSent);
  EXPECT_EQ(recorder.log, std::vector<std::string>{"wait 40"});
  recorder.stop_at_wait = 1;
  EXPECT_EQ(sender.WaitForEnd(kStart + milliseconds(20)), Outcome::kStopped);
  EXPECT_EQ(sender.WaitForEnd(kStart + milliseconds(50)), Outcome::kStalled);
  EXPECT_EQ(recorder.log.size(), 2u);
}

}  // namespace
}  // namespace portwick

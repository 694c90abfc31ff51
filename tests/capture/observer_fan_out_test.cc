#include "capture/observer_fan_out.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/session_label.h"
#include "capture/session_tracker.h"
#include "capture_events.h"

namespace portwick {
namespace {

using testing::EventFeeder;
using testing::RecordingObserver;
using Lines = std::vector<std::string>;

void FeedOneSession(SessionObserver* observer) {
  EventFeeder feeder(observer);
  feeder.OpenAndConnect(3);
  feeder.Chunk(3, Direction::kClientToServer, "hi");
  feeder.HalfClose(3, Direction::kServerToClient);
  feeder.Close(3, CloseReason::kBothFinished, 2, 0);
}

TEST(ObserverFanOutTest, EveryMemberGetsTheEventsAndOnlyChunkWantersGetChunks) {
  auto wants = std::make_shared<RecordingObserver>(true);
  auto events_only = std::make_shared<RecordingObserver>(false);
  ObserverFanOut fan_out;
  EXPECT_TRUE(fan_out.empty());
  fan_out.Add(events_only);
  EXPECT_FALSE(fan_out.WantsChunks());
  fan_out.Add(nullptr);
  fan_out.Add(wants);
  EXPECT_TRUE(fan_out.WantsChunks());
  FeedOneSession(&fan_out);

  const Lines all = {"open 3 127.0.0.1:40003", "connected 3 127.0.0.1:2007", "chunk 3 > 2 hi",
                     "half-close 3 <", "closed 3 how=0 up=2 down=0"};
  EXPECT_EQ(wants->lines(), all);
  Lines without_chunk = all;
  without_chunk.erase(without_chunk.begin() + 2);
  EXPECT_EQ(events_only->lines(), without_chunk);
}

TEST(ObserverFanOutTest, TaggerPutsTheForwardIntoEveryEvent) {
  auto recorder = std::make_shared<RecordingObserver>(false);
  ForwardTagger tagger(2, recorder);
  EXPECT_FALSE(tagger.WantsChunks());
  FeedOneSession(&tagger);
  for (const std::string& line : recorder->lines()) {
    EXPECT_NE(line.find(" 2.3 "), std::string::npos) << line;
  }
  EXPECT_EQ(recorder->lines().size(), 5u);
}

TEST(SessionLabelTest, ForwardAndNumber) {
  struct Case {
    uint32_t forward;
    SessionId number;
    const char* label;
  };
  const Case cases[] = {
      {0, 3, "3"}, {2, 3, "2.3"}, {1, 1, "1.1"}, {65535, 123456789, "65535.123456789"}};
  for (const Case& c : cases) {
    const SessionId key = CaptureKey(c.forward, c.number);
    EXPECT_EQ(ForwardOf(key), c.forward);
    EXPECT_EQ(NumberOf(key), c.number);
    EXPECT_EQ(SessionLabel(c.forward, c.number), c.label);
    EXPECT_EQ(KeyLabel(key), c.label);
  }
}

TEST(SessionTrackerTest, WaitsForTheLastCloseOrTheDeadline) {
  using std::chrono::steady_clock;
  SessionTracker tracker;
  EXPECT_FALSE(tracker.WantsChunks());
  EventFeeder feeder(&tracker);
  EXPECT_TRUE(tracker.WaitUntilIdle(steady_clock::now()));
  feeder.Open(1);
  feeder.Open(2);
  feeder.Close(1, CloseReason::kStopped);
  EXPECT_EQ(tracker.open(), 1);
  int served = 0;
  EXPECT_FALSE(tracker.WaitUntilIdle(steady_clock::now() + std::chrono::milliseconds(30),
                                     [&] { ++served; }));
  EXPECT_GT(served, 0);
  std::thread closer([&] {
    EventFeeder other(&tracker);
    other.Close(2, CloseReason::kStopped);
  });
  EXPECT_TRUE(tracker.WaitUntilIdle(steady_clock::now() + std::chrono::seconds(15)));
  closer.join();
  EXPECT_EQ(tracker.open(), 0);
}

}  // namespace
}  // namespace portwick

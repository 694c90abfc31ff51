// The handle that keeps relay threads from calling a released sink.

#include "engine/log_sink_handle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "recording_sink.h"
#include "test_server.h"

namespace portwick {
namespace {

TEST(LogSinkHandleTest, UsesGiveTheSinkUntilDetachedThenFail) {
  testing::RecordingSink sink;
  LogSinkHandle handle(&sink);
  {
    LogSinkHandle::Use use = handle.Acquire();
    ASSERT_TRUE(use);
    EXPECT_EQ(use.sink(), &sink);
  }
  handle.Detach({});
  EXPECT_TRUE(handle.IsDetached());
  EXPECT_FALSE(handle.Acquire());

  LogSinkHandle unlogged(nullptr);
  LogSinkHandle::Use pass_through = unlogged.Acquire();
  EXPECT_TRUE(pass_through) << "a handle without a sink still lets bytes pass";
  EXPECT_EQ(pass_through.sink(), nullptr);
}

TEST(LogSinkHandleTest, DetachServesEventsUntilTheUseInFlightEnds) {
  LogSinkHandle handle(nullptr);
  std::atomic<bool> may_end{false};
  std::atomic<bool> ended{false};
  LogSinkHandle::Use use = handle.Acquire();
  std::thread holder([&, use = std::move(use)]() mutable {
    // Stands for a pane delivery that needs the detaching thread to serve it.
    while (!may_end) std::this_thread::yield();
    ended = true;
    use = LogSinkHandle::Use();
  });
  int served = 0;
  handle.Detach([&] {
    ++served;
    may_end = true;
  });
  EXPECT_TRUE(ended) << "Detach returned while a use was in flight";
  EXPECT_GE(served, 1);
  holder.join();
}

// A use that never ends (a relay thread blocked in a delivery) makes a
// detach with a deadline give up then, saying so; it succeeds once the use
// has ended.
TEST(LogSinkHandleTest, DetachBeforeADeadlineGivesUpOnAUseThatDoesNotEnd) {
  LogSinkHandle handle(nullptr);
  LogSinkHandle::Use use = handle.Acquire();
  for (const bool serve : {false, true}) {
    int served = 0;
    const ServeEvents serve_events = serve ? ServeEvents([&] { ++served; }) : ServeEvents();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
    EXPECT_FALSE(handle.DetachBefore(deadline, serve_events));
    EXPECT_GE(std::chrono::steady_clock::now(), deadline);
    EXPECT_EQ(served > 0, serve);
    EXPECT_EQ(handle.UsesInFlight(), 1u);
    EXPECT_FALSE(handle.Acquire()) << "detached even though the wait gave up";
  }
  use = LogSinkHandle::Use();
  EXPECT_TRUE(handle.DetachBefore(std::chrono::steady_clock::now(), {}));
  EXPECT_EQ(handle.UsesInFlight(), 0u);
}

TEST(LogSinkHandleTest, NoUseOutlivesDetachUnderConcurrentCallers) {
  LogSinkHandle handle(nullptr);
  std::atomic<bool> detach_returned{false};
  std::atomic<int> uses{0};
  std::atomic<int> uses_after_detach{0};
  std::atomic<int> refusals{0};
  std::vector<std::thread> callers;
  for (int i = 0; i < 4; ++i) {
    callers.emplace_back([&] {
      // Bounded: each caller stops once it has been refused a few times, or
      // after far more calls than that can take.
      for (int refused = 0, calls = 0; refused < 100 && calls < 1'000'000; ++calls) {
        LogSinkHandle::Use use = handle.Acquire();
        if (!use) {
          ++refused;
          ++refusals;
          continue;
        }
        ++uses;
        // A use granted before Detach keeps Detach waiting; seeing Detach
        // done while holding one means the handle let a caller through.
        std::this_thread::yield();
        if (detach_returned) ++uses_after_detach;
      }
    });
  }
  ASSERT_TRUE(testing::WaitUntil([&] { return uses >= 1000; }));
  handle.Detach({});
  detach_returned = true;
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(uses_after_detach.load(), 0);
  EXPECT_EQ(refusals.load(), 400);
}

}  // namespace
}  // namespace portwick

#include "app/windows/console_events.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <csignal>
#include <future>

#include "app/stop_signals.h"

namespace portwick {
namespace {

using std::chrono_literals::operator""s;

// Every console stop event wakes the waiting stop path, as its signal.
TEST(ConsoleEventsTest, EachStopEventWakesTheWaiter) {
  ASSERT_TRUE(BlockStopSignals());
  const struct {
    DWORD event;
    int number;
  } kRows[] = {{CTRL_C_EVENT, SIGINT},
               {CTRL_BREAK_EVENT, SIGBREAK},
               {CTRL_CLOSE_EVENT, SIGTERM},
               {CTRL_LOGOFF_EVENT, SIGTERM},
               {CTRL_SHUTDOWN_EVENT, SIGTERM}};
  for (const auto& row : kRows) {
    auto waiting = std::async(std::launch::async, WaitForStopSignal);
    EXPECT_TRUE(DeliverConsoleEvent(row.event));
    ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready) << row.event;
    EXPECT_EQ(waiting.get(), row.number) << row.event;
  }
  EXPECT_FALSE(DeliverConsoleEvent(3));  // no such event: not a stop
}

// After the first stop, the next event ends the process at once, with the
// console's own exit code for Ctrl+C.
TEST(ConsoleEventsDeathTest, SecondEventExitsAtOnce) {
  EXPECT_EXIT(
      {
        DeliverConsoleEvent(CTRL_C_EVENT);
        WaitForStopSignal();
        ExitAtNextStopSignal();
        DeliverConsoleEvent(CTRL_BREAK_EVENT);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(static_cast<int>(0xC000013A)), "");
}

}  // namespace
}  // namespace portwick

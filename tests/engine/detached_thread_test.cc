// Threads started for the engine: a finished thread takes the next task of
// its stack size, and a quiet one ends.

#include "engine/detached_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "test_server.h"

namespace portwick {
namespace {

// A stack size no other code uses, so these threads have a pool of their own.
constexpr size_t kTestStackSize = 200 * 1024;

// Runs one task on a started thread and returns that thread's id.
std::thread::id RunOnce() {
  std::mutex mutex;
  std::condition_variable done;
  std::thread::id ran_on;
  bool finished = false;
  EXPECT_TRUE(StartDetachedThread(MakeTask([&] {
                                    std::lock_guard<std::mutex> lock(mutex);
                                    ran_on = std::this_thread::get_id();
                                    finished = true;
                                    done.notify_one();
                                  }),
                                  kTestStackSize));
  std::unique_lock<std::mutex> lock(mutex);
  EXPECT_TRUE(done.wait_for(lock, std::chrono::seconds(10), [&] { return finished; }));
  return ran_on;
}

TEST(DetachedThreadTest, FinishedThreadRunsTheNextTaskAndEndsWhenQuiet) {
  const std::thread::id first = RunOnce();
  ASSERT_TRUE(testing::WaitUntil([] { return IdleThreadCount(kTestStackSize) == 1; }));
  EXPECT_EQ(RunOnce(), first) << "the idle thread takes the next task";
  // Nothing more comes: the thread stops waiting and ends.
  EXPECT_TRUE(testing::WaitUntil([] { return IdleThreadCount(kTestStackSize) == 0; },
                                 std::chrono::seconds(10)));
}

TEST(DetachedThreadTest, TaskIsDestroyedOnItsThreadBeforeTheThreadIsReused) {
  struct Probe {
    explicit Probe(std::thread::id* where) : destroyed_on(where) {}
    ~Probe() { *destroyed_on = std::this_thread::get_id(); }
    std::thread::id* destroyed_on;
  };
  std::thread::id ran_on;
  std::thread::id destroyed_on;
  ASSERT_TRUE(StartDetachedThread(MakeTask([probe = std::make_shared<Probe>(&destroyed_on),
                                            &ran_on] { ran_on = std::this_thread::get_id(); }),
                                  kTestStackSize));
  // Once the thread is idle again, its task (and what the task held) is gone.
  ASSERT_TRUE(testing::WaitUntil([] { return IdleThreadCount(kTestStackSize) >= 1; }));
  EXPECT_EQ(destroyed_on, ran_on);
}

TEST(DetachedThreadTest, TasksHandedOverFromManyThreadsAtOnceEachRunOnce) {
  constexpr int kStarters = 4;
  constexpr int kTasksEach = 300;
  std::atomic<int> runs{0};
  std::atomic<int> refused{0};
  std::vector<std::thread> starters;
  for (int i = 0; i < kStarters; ++i) {
    starters.emplace_back([&] {
      for (int t = 0; t < kTasksEach; ++t) {
        if (!StartDetachedThread(MakeTask([&runs] { runs.fetch_add(1); }), kTestStackSize)) {
          refused.fetch_add(1);
        }
      }
    });
  }
  for (std::thread& starter : starters) starter.join();
  EXPECT_EQ(refused.load(), 0);
  EXPECT_TRUE(testing::WaitUntil([&] { return runs.load() == kStarters * kTasksEach; }))
      << runs.load();
}

}  // namespace
}  // namespace portwick

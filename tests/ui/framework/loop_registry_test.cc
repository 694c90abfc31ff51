#include "ui/framework/loop_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace portwick {
namespace {

// The registry only stores and compares the pointers.
MessageLoop* FakeLoop(int n) {
  static char slots[16];
  return reinterpret_cast<MessageLoop*>(&slots[n]);
}

std::thread::id OtherThreadId() {
  std::thread::id id;
  std::thread t([&id]() { id = std::this_thread::get_id(); });
  t.join();
  return id;
}

TEST(LoopRegistryTest, AddLookupRemove) {
  Mutex lock;
  LoopRegistry registry(lock);
  const std::thread::id me = std::this_thread::get_id();
  const std::thread::id other = OtherThreadId();

  EXPECT_EQ(registry.Lookup(me), nullptr);
  EXPECT_FALSE(registry.Remove(me));
  EXPECT_FALSE(registry.Add(me, nullptr));
  EXPECT_EQ(registry.size(), 0u);

  EXPECT_TRUE(registry.Add(me, FakeLoop(1)));
  EXPECT_TRUE(registry.Add(other, FakeLoop(2)));
  EXPECT_EQ(registry.size(), 2u);
  EXPECT_EQ(registry.Lookup(me), FakeLoop(1));
  EXPECT_EQ(registry.Lookup(other), FakeLoop(2));

  // A second entry for the same thread: lookup finds the first, removal
  // takes out the first, and the later one comes to light.
  EXPECT_TRUE(registry.Add(me, FakeLoop(3)));
  EXPECT_EQ(registry.Lookup(me), FakeLoop(1));
  EXPECT_TRUE(registry.Remove(me));
  EXPECT_EQ(registry.Lookup(me), FakeLoop(3));
  EXPECT_EQ(registry.Lookup(other), FakeLoop(2));  // values moved with keys
  EXPECT_EQ(registry.size(), 2u);

  EXPECT_TRUE(registry.Remove(other));
  EXPECT_TRUE(registry.Remove(me));
  EXPECT_FALSE(registry.Remove(me));
  EXPECT_EQ(registry.size(), 0u);
}

TEST(LoopRegistryTest, GlobalRegistryFindsTheCallingThreadsLoop) {
  LoopRegistry& global = LoopRegistry::Global();
  EXPECT_EQ(&global, &LoopRegistry::Global());
  EXPECT_EQ(CurrentThreadLoop(), nullptr);
  ASSERT_TRUE(global.Add(std::this_thread::get_id(), FakeLoop(4)));
  EXPECT_EQ(CurrentThreadLoop(), FakeLoop(4));
  MessageLoop* seen_elsewhere = FakeLoop(5);
  std::thread([&seen_elsewhere]() { seen_elsewhere = CurrentThreadLoop(); }).join();
  EXPECT_EQ(seen_elsewhere, nullptr);
  EXPECT_TRUE(global.Remove(std::this_thread::get_id()));
  EXPECT_EQ(CurrentThreadLoop(), nullptr);
}

TEST(LoopRegistryTest, ThreadsRegisterConcurrently) {
  Mutex lock;
  LoopRegistry registry(lock);
  constexpr int kThreads = 8;
  constexpr int kRounds = 500;
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&registry, &mismatches, t]() {
      const std::thread::id me = std::this_thread::get_id();
      for (int i = 0; i < kRounds; ++i) {
        if (!registry.Add(me, FakeLoop(t))) ++mismatches;
        if (registry.Lookup(me) != FakeLoop(t)) ++mismatches;
        if (!registry.Remove(me)) ++mismatches;
        if (registry.Lookup(me) != nullptr) ++mismatches;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(registry.size(), 0u);
}

}  // namespace
}  // namespace portwick

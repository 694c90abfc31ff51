#ifndef PORTWICK_ENGINE_DETACHED_THREAD_H_
#define PORTWICK_ENGINE_DETACHED_THREAD_H_

#include <cstddef>
#include <memory>
#include <utility>

namespace portwick {

// Work handed to a thread of its own; the thread owns and destroys it.
class ThreadTask {
 public:
  virtual ~ThreadTask() = default;
  virtual void Run() = 0;
};

// Stack sizes for the engine's threads. They are small because every open
// session keeps two relay threads; only the pages a thread touches become
// resident. Sanitizer builds need far more stack per frame.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr size_t kStackScale = 8;
#else
inline constexpr size_t kStackScale = 1;
#endif
inline constexpr size_t kRelayStackSize = 128 * 1024 * kStackScale;
// Name resolution runs on the connector thread and needs more.
inline constexpr size_t kConnectorStackSize = 512 * 1024 * kStackScale;

// Runs `task` on a detached thread with the given stack size and then
// destroys it on that thread. A thread whose task is done waits a short
// while for the next task of the same stack size before it ends, so a busy
// forwarder doesn't pay a thread start per connection. Returns false when no
// thread can be started; `task` is then destroyed before the call returns.
// Any thread may call it.
bool StartDetachedThread(std::unique_ptr<ThreadTask> task, size_t stack_size);

// How many finished threads of that stack size wait for a task (for tests).
size_t IdleThreadCount(size_t stack_size);

// Starts threads for the engine; an interface so tests can make a thread
// start fail. Implementations are called from many threads at once.
class ThreadStarter {
 public:
  virtual ~ThreadStarter() = default;
  // As StartDetachedThread.
  virtual bool Start(std::unique_ptr<ThreadTask> task, size_t stack_size) = 0;

  // Starts real threads; lives for the whole process.
  static ThreadStarter& Default();
};

// Wraps a callable as a ThreadTask.
template <typename F>
class CallableTask final : public ThreadTask {
 public:
  explicit CallableTask(F f) : f_(std::move(f)) {}
  void Run() override { f_(); }

 private:
  F f_;
};

// A ThreadTask that runs `f`; may throw std::bad_alloc.
template <typename F>
std::unique_ptr<ThreadTask> MakeTask(F f) {
  return std::make_unique<CallableTask<F>>(std::move(f));
}

}  // namespace portwick

#endif  // PORTWICK_ENGINE_DETACHED_THREAD_H_

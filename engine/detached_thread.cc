#include "engine/detached_thread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <utility>
#include <vector>

#include "base/mutex.h"
#include "base/no_destructor.h"
#include "engine/os_thread.h"
#include "engine/wait_word.h"

namespace portwick {

namespace {

// How long a thread that finished its task waits for another one before it
// ends. Starting a thread costs more than the short sessions of a busy
// forwarder, so finished threads are handed the next task instead; a quiet
// process is back to its own threads after this long.
constexpr std::chrono::seconds kIdleLinger{2};

// A started thread between two tasks. Lives on the thread's own stack.
//
// Each has a word of its own that it sleeps on in the kernel (wait_word.h), so
// handing a task over is one wake-up system call and touches no lock the
// woken thread must then take: one lock for the whole pool had every waking
// thread queue behind the threads handing over and the ones finishing, and a
// lock and condition variable per thread still cost a third system call per
// hand-over (the lock retaken after the wait is released with a wake-up).
struct Worker {
  // Written by the one thread that took the worker off the idle list, before
  // it sets `handed`; read by the worker after it has seen `handed` set.
  std::unique_ptr<ThreadTask> task;
  std::atomic<int> handed{0};

  // By the handing thread. The worker can't end before it has the task, and
  // a wake-up that comes late reaches nobody.
  void Post() {
    handed.store(1, std::memory_order_release);
    wait_word::WakeOne(&handed);
  }

  // By the worker: true once posted (and then ready for the next Post),
  // false after `timeout`; waits without end for a negative one.
  bool WaitFor(std::chrono::nanoseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (handed.load(std::memory_order_acquire) == 0) {
      std::chrono::nanoseconds rest = timeout;
      if (timeout.count() >= 0) {
        rest = deadline - std::chrono::steady_clock::now();
        if (rest.count() <= 0) return false;
      }
      wait_word::Wait(&handed, 0, rest);
    }
    handed.store(0, std::memory_order_relaxed);
    return true;
  }
};

// Threads waiting for a task, by stack size. Never destroyed: idle threads
// may still be waiting on it while the process exits.
class IdleThreads {
 public:
  IdleThreads() = default;

  size_t Count(size_t stack_size) LOCKS_EXCLUDED(mutex_) {
    MutexLock lock(&mutex_);
    return IdleOf(stack_size).size();
  }

  static IdleThreads& Instance() {
    static NoDestructor<IdleThreads> instance;
    return *instance.get();
  }

  // Gives `task` to an idle thread of that stack size; false (task untouched)
  // when there is none.
  bool Hand(std::unique_ptr<ThreadTask>& task, size_t stack_size) LOCKS_EXCLUDED(mutex_) {
    Worker* worker;
    {
      MutexLock lock(&mutex_);
      std::vector<Worker*>& idle = IdleOf(stack_size);
      if (idle.empty()) return false;
      worker = idle.back();
      idle.pop_back();
    }
    // Off the list, the worker waits for this task and can't end before it
    // has it.
    worker->task = std::move(task);
    worker->Post();
    return true;
  }

  // Called by a thread whose task is done: waits up to kIdleLinger for the
  // next one. Returns it, or null when the thread should end.
  std::unique_ptr<ThreadTask> AwaitNext(Worker* self, size_t stack_size) LOCKS_EXCLUDED(mutex_) {
    {
      MutexLock lock(&mutex_);
      IdleOf(stack_size).push_back(self);
    }
    if (!self->WaitFor(kIdleLinger)) {
      if (Withdraw(self, stack_size)) return nullptr;
      // Hand took it off the list first: its task is on the way.
      self->WaitFor(std::chrono::nanoseconds(-1));
    }
    return std::move(self->task);
  }

 private:
  // Takes `self` off the idle list; false when Hand took it first (its task
  // is then on the way).
  bool Withdraw(Worker* self, size_t stack_size) LOCKS_EXCLUDED(mutex_) {
    MutexLock lock(&mutex_);
    std::vector<Worker*>& idle = IdleOf(stack_size);
    const auto found = std::find(idle.begin(), idle.end(), self);
    if (found == idle.end()) return false;
    idle.erase(found);
    return true;
  }

  std::vector<Worker*>& IdleOf(size_t stack_size) EXCLUSIVE_LOCKS_REQUIRED(mutex_) {
    for (auto& [size, workers] : idle_) {
      if (size == stack_size) return workers;
    }
    return idle_.emplace_back(stack_size, std::vector<Worker*>()).second;
  }

  Mutex mutex_;  // guards the lists only
  // One entry per stack size in use (only a few); last in, first out, so
  // the threads that idle longest are the ones that end.
  std::vector<std::pair<size_t, std::vector<Worker*>>> idle_ GUARDED_BY(mutex_);
};

struct ThreadStart {
  std::unique_ptr<ThreadTask> task;
  size_t stack_size;
};

void* ThreadMain(void* argument) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
  Worker self;
  std::unique_ptr<ThreadTask> task = std::move(start->task);
  while (task != nullptr) {
    task->Run();
    task.reset();  // destroyed on this thread, before the thread is reused
    task = IdleThreads::Instance().AwaitNext(&self, start->stack_size);
  }
  return nullptr;
}

}  // namespace

bool StartDetachedThread(std::unique_ptr<ThreadTask> task, size_t stack_size) {
  if (IdleThreads::Instance().Hand(task, stack_size)) return true;
  auto start = std::make_unique<ThreadStart>(ThreadStart{std::move(task), stack_size});
  if (!StartOsThread(&ThreadMain, start.get(), stack_size)) return false;
  (void)start.release();  // the new thread owns it now
  return true;
}

size_t IdleThreadCount(size_t stack_size) { return IdleThreads::Instance().Count(stack_size); }

ThreadStarter& ThreadStarter::Default() {
  class RealStarter final : public ThreadStarter {
   public:
    bool Start(std::unique_ptr<ThreadTask> task, size_t stack_size) override {
      return StartDetachedThread(std::move(task), stack_size);
    }
  };
  static NoDestructor<RealStarter> starter;
  return *starter.get();
}

}  // namespace portwick

#include "engine/detached_thread.h"

#include <pthread.h>

#include <chrono>
#include <new>
#include <utility>
#include <vector>

#include "base/mutex.h"
#include "base/no_destructor.h"

namespace portwick {

namespace {

// How long a thread that finished its task waits for another one before it
// ends. Starting a thread costs more than the short sessions of a busy
// forwarder, so finished threads are handed the next task instead; a quiet
// process is back to its own threads after this long.
constexpr std::chrono::seconds kIdleLinger{2};

// A started thread between two tasks. Lives on the thread's own stack.
struct Worker {
  explicit Worker(Mutex* pool_mutex) : wake(pool_mutex) {}
  CondVar wake;
  std::unique_ptr<ThreadTask> task;  // guarded by the pool's mutex once pooled
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

  // Guards every pooled Worker's task.
  Mutex* mutex() RETURN_CAPABILITY(mutex_) { return &mutex_; }

  static IdleThreads& Instance() {
    static NoDestructor<IdleThreads> instance;
    return *instance.get();
  }

  // Gives `task` to an idle thread of that stack size; false (task untouched)
  // when there is none.
  bool Hand(std::unique_ptr<ThreadTask>& task, size_t stack_size) LOCKS_EXCLUDED(mutex_) {
    MutexLock lock(&mutex_);
    std::vector<Worker*>& idle = IdleOf(stack_size);
    if (idle.empty()) return false;
    Worker* worker = idle.back();
    idle.pop_back();
    worker->task = std::move(task);
    worker->wake.Signal();
    return true;
  }

  // Called by a thread whose task is done: waits up to kIdleLinger for the
  // next one. Returns it, or null when the thread should end.
  std::unique_ptr<ThreadTask> AwaitNext(Worker* self, size_t stack_size) LOCKS_EXCLUDED(mutex_) {
    MutexLock lock(&mutex_);
    std::vector<Worker*>& idle = IdleOf(stack_size);
    idle.push_back(self);
    const auto deadline = std::chrono::steady_clock::now() + kIdleLinger;
    while (self->task == nullptr) {
      if (!self->wake.WaitUntil(deadline) && self->task == nullptr) {
        // Looked up again: another stack size added meanwhile may have moved
        // the list that `idle` referred to.
        std::erase(IdleOf(stack_size), self);
        return nullptr;
      }
    }
    return std::move(self->task);
  }

 private:
  std::vector<Worker*>& IdleOf(size_t stack_size) EXCLUSIVE_LOCKS_REQUIRED(mutex_) {
    for (auto& [size, workers] : idle_) {
      if (size == stack_size) return workers;
    }
    return idle_.emplace_back(stack_size, std::vector<Worker*>()).second;
  }

  Mutex mutex_;
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
  Worker self(IdleThreads::Instance().mutex());
  std::unique_ptr<ThreadTask> task = std::move(start->task);
  while (task != nullptr) {
    task->Run();
    task.reset();  // destroyed on this thread, before the thread is reused
    task = IdleThreads::Instance().AwaitNext(&self, start->stack_size);
  }
  return nullptr;
}

// Owns a pthread attribute object for the duration of one thread start.
class ThreadAttributes {
 public:
  ThreadAttributes() { ok_ = pthread_attr_init(&attr_) == 0; }
  ThreadAttributes(const ThreadAttributes&) = delete;
  ThreadAttributes& operator=(const ThreadAttributes&) = delete;
  ~ThreadAttributes() {
    if (ok_) pthread_attr_destroy(&attr_);
  }

  bool Configure(size_t stack_size) {
    return ok_ && pthread_attr_setdetachstate(&attr_, PTHREAD_CREATE_DETACHED) == 0 &&
           pthread_attr_setstacksize(&attr_, stack_size) == 0;
  }
  const pthread_attr_t* get() const { return &attr_; }

 private:
  pthread_attr_t attr_;
  bool ok_ = false;
};

}  // namespace

bool StartDetachedThread(std::unique_ptr<ThreadTask> task, size_t stack_size) {
  if (IdleThreads::Instance().Hand(task, stack_size)) return true;
  ThreadAttributes attributes;
  if (!attributes.Configure(stack_size)) return false;
  auto start = std::make_unique<ThreadStart>(ThreadStart{std::move(task), stack_size});
  pthread_t thread;
  if (pthread_create(&thread, attributes.get(), &ThreadMain, start.get()) != 0) return false;
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

#include "engine/detached_thread.h"

#include <pthread.h>

namespace portwick {

namespace {

void* ThreadMain(void* argument) {
  std::unique_ptr<ThreadTask> task(static_cast<ThreadTask*>(argument));
  task->Run();
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
  ThreadAttributes attributes;
  if (!attributes.Configure(stack_size)) return false;
  pthread_t thread;
  if (pthread_create(&thread, attributes.get(), &ThreadMain, task.get()) != 0) return false;
  (void)task.release();  // the new thread owns it now
  return true;
}

ThreadStarter& ThreadStarter::Default() {
  class RealStarter final : public ThreadStarter {
   public:
    bool Start(std::unique_ptr<ThreadTask> task, size_t stack_size) override {
      return StartDetachedThread(std::move(task), stack_size);
    }
  };
  static RealStarter starter;
  return starter;
}

}  // namespace portwick

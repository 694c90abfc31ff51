#include "engine/os_thread.h"

#include <pthread.h>

namespace portwick {

namespace {

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

bool StartOsThread(OsThreadMain main, void* argument, size_t stack_size) {
  ThreadAttributes attributes;
  if (!attributes.Configure(stack_size)) return false;
  pthread_t thread;
  return pthread_create(&thread, attributes.get(), main, argument) == 0;
}

}  // namespace portwick

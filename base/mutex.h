#ifndef PORTWICK_BASE_MUTEX_H_
#define PORTWICK_BASE_MUTEX_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "base/thread_annotations.h"

namespace portwick {

// A std::mutex that clang's thread-safety analysis knows as a capability, so
// members marked GUARDED_BY(mutex_) and methods marked
// EXCLUSIVE_LOCKS_REQUIRED(mutex_) are checked at compile time.
//
// Not copyable or movable. Any thread may lock it; only the thread that
// locked it may unlock it.
class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  ~Mutex() = default;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  // Tells the analysis that the caller holds the lock (for callbacks that
  // run under a lock taken elsewhere); checks nothing at run time.
  void AssertHeld() ASSERT_EXCLUSIVE_LOCK() {}

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds a Mutex for the scope it lives in.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_->Lock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;
  ~MutexLock() RELEASE() { mutex_->Unlock(); }

 private:
  Mutex* const mutex_;
};

// A condition variable bound to one Mutex, which the caller holds around
// every wait (the analysis can't tie the waits to that Mutex, so it is not
// checked there). Waits may wake spuriously: callers loop on their condition.
//
// Not copyable or movable; the Mutex must outlive it. Signal and SignalAll
// from any thread, with or without the Mutex held.
class CondVar {
 public:
  explicit CondVar(Mutex* mutex) : mutex_(mutex) {}
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;
  ~CondVar() = default;

  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_->mutex_, std::adopt_lock);
    cv_.wait(lock);
    lock.release();
  }

  // Waits until signalled or until `deadline`; false when the deadline
  // passed.
  template <typename Clock, typename Duration>
  bool WaitUntil(const std::chrono::time_point<Clock, Duration>& deadline) {
    std::unique_lock<std::mutex> lock(mutex_->mutex_, std::adopt_lock);
    const bool signalled = cv_.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return signalled;
  }

  // Waits until signalled or for `timeout`; false when the time ran out.
  template <typename Rep, typename Period>
  bool WaitFor(const std::chrono::duration<Rep, Period>& timeout) {
    return WaitUntil(std::chrono::steady_clock::now() + timeout);
  }

  void Signal() { cv_.notify_one(); }
  void SignalAll() { cv_.notify_all(); }

 private:
  Mutex* const mutex_;
  std::condition_variable cv_;
};

}  // namespace portwick

#endif  // PORTWICK_BASE_MUTEX_H_

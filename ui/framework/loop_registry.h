#ifndef PORTWICK_UI_FRAMEWORK_LOOP_REGISTRY_H_
#define PORTWICK_UI_FRAMEWORK_LOOP_REGISTRY_H_

#include <thread>
#include <vector>

#include "base/mutex.h"

namespace portwick {

class MessageLoop;

// The process-wide module lock. It guards the process's LoopRegistry.
Mutex& ModuleLock();

// Maps thread ids to their message loops: two parallel vectors that grow and
// shrink by one entry per add or remove; lookup finds the first equal key.
// Every operation holds the registry's lock (the module lock for Global()).
// Any thread. Loops are borrowed; remove a loop before it is destroyed.
class LoopRegistry {
 public:
  // A registry guarded by `lock`, which must outlive it.
  explicit LoopRegistry(Mutex& lock);
  LoopRegistry(const LoopRegistry&) = delete;
  LoopRegistry& operator=(const LoopRegistry&) = delete;

  // The process's registry, guarded by ModuleLock().
  static LoopRegistry& Global();

  // Appends (thread, loop); fails for a null loop. A thread id already
  // present is appended again (lookup finds the earlier entry).
  bool Add(std::thread::id thread, MessageLoop* loop) LOCKS_EXCLUDED(lock_);
  // Removes the first entry of `thread`; false when there is none.
  bool Remove(std::thread::id thread) LOCKS_EXCLUDED(lock_);
  // The loop of `thread`, or null.
  MessageLoop* Lookup(std::thread::id thread) const LOCKS_EXCLUDED(lock_);
  size_t size() const LOCKS_EXCLUDED(lock_);

 private:
  Mutex& lock_;
  std::vector<std::thread::id> keys_ GUARDED_BY(lock_);
  std::vector<MessageLoop*> values_ GUARDED_BY(lock_);
};

// The loop registered for the calling thread in the global registry, or null.
MessageLoop* CurrentThreadLoop();

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_LOOP_REGISTRY_H_

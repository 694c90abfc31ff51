#include "ui/framework/loop_registry.h"

#include <algorithm>

namespace portwick {

Mutex& ModuleLock() {
  static Mutex lock;
  return lock;
}

LoopRegistry::LoopRegistry(Mutex& lock) : lock_(lock) {}

LoopRegistry& LoopRegistry::Global() {
  static LoopRegistry registry(ModuleLock());
  return registry;
}

bool LoopRegistry::Add(std::thread::id thread, MessageLoop* loop) {
  if (loop == nullptr) return false;
  MutexLock hold(&lock_);
  keys_.push_back(thread);
  values_.push_back(loop);
  return true;
}

bool LoopRegistry::Remove(std::thread::id thread) {
  MutexLock hold(&lock_);
  auto it = std::find(keys_.begin(), keys_.end(), thread);
  if (it == keys_.end()) return false;
  const auto index = it - keys_.begin();
  keys_.erase(it);
  values_.erase(values_.begin() + index);
  return true;
}

MessageLoop* LoopRegistry::Lookup(std::thread::id thread) const {
  MutexLock hold(&lock_);
  auto it = std::find(keys_.begin(), keys_.end(), thread);
  if (it == keys_.end()) return nullptr;
  return values_[it - keys_.begin()];
}

size_t LoopRegistry::size() const {
  MutexLock hold(&lock_);
  return keys_.size();
}

MessageLoop* CurrentThreadLoop() {
  return LoopRegistry::Global().Lookup(std::this_thread::get_id());
}

}  // namespace portwick

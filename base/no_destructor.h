#ifndef PORTWICK_BASE_NO_DESTRUCTOR_H_
#define PORTWICK_BASE_NO_DESTRUCTOR_H_

#include <new>
#include <utility>

namespace portwick {

// Holds a process-wide object that is never destroyed. The engine's detached
// threads may still be using such an object (the socket layer, the thread
// pool) while the process exits and runs its static destructors.
template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    ::new (storage_) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;
  ~NoDestructor() = default;

  T* get() { return std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace portwick

#endif  // PORTWICK_BASE_NO_DESTRUCTOR_H_

#include "engine/windows/socket_state.h"

#include <windows.h>

#include <new>
#include <unordered_map>

#include "base/no_destructor.h"

namespace portwick::sockets {

namespace {

// Holds a slim reader/writer lock, shared or alone, for its scope.
template <void (*kAcquire)(PSRWLOCK), void (*kRelease)(PSRWLOCK)>
class SrwHold {
 public:
  explicit SrwHold(SRWLOCK* lock) : lock_(lock) { kAcquire(lock_); }
  SrwHold(const SrwHold&) = delete;
  SrwHold& operator=(const SrwHold&) = delete;
  ~SrwHold() { kRelease(lock_); }

 private:
  SRWLOCK* const lock_;
};
using SharedHold = SrwHold<AcquireSRWLockShared, ReleaseSRWLockShared>;
using ExclusiveHold = SrwHold<AcquireSRWLockExclusive, ReleaseSRWLockExclusive>;

// Every socket's state, looked up by each receive and send (shared, so the
// relay threads don't queue behind each other). May throw std::bad_alloc.
class Registry {
 public:
  void Put(SOCKET s, std::shared_ptr<SocketState> state) {
    ExclusiveHold hold(&lock_);
    states_[s] = std::move(state);
  }

  std::shared_ptr<SocketState> Get(SOCKET s) {
    SharedHold hold(&lock_);
    const auto found = states_.find(s);
    return found == states_.end() ? nullptr : found->second;
  }

  void Drop(SOCKET s) {
    std::shared_ptr<SocketState> dropped;  // released after the lock
    ExclusiveHold hold(&lock_);
    const auto found = states_.find(s);
    if (found == states_.end()) return;
    dropped = std::move(found->second);
    states_.erase(found);
  }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  std::unordered_map<SOCKET, std::shared_ptr<SocketState>> states_;
};

// Detached relay threads may still look up states while the process exits.
Registry& TheRegistry() {
  static NoDestructor<Registry> registry;
  return *registry.get();
}

HANDLE NewManualResetEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

}  // namespace

bool SocketState::Add(SOCKET s) {
  HANDLE reading_ended = NewManualResetEvent();
  HANDLE ended = NewManualResetEvent();
  if (reading_ended == nullptr || ended == nullptr) {
    if (reading_ended != nullptr) CloseHandle(reading_ended);
    if (ended != nullptr) CloseHandle(ended);
    return false;
  }
  std::shared_ptr<SocketState> state;
  try {
    state = std::make_shared<SocketState>(reading_ended, ended);
  } catch (const std::bad_alloc&) {
    CloseHandle(reading_ended);
    CloseHandle(ended);
    return false;
  }
  try {
    TheRegistry().Put(s, std::move(state));
  } catch (const std::bad_alloc&) {
    return false;  // the state closed its events
  }
  return true;
}

std::shared_ptr<SocketState> SocketState::Of(SOCKET s) { return TheRegistry().Get(s); }

void SocketState::Remove(SOCKET s) { TheRegistry().Drop(s); }

SocketState::SocketState(HANDLE reading_ended, HANDLE ended)
    : reading_ended_(reading_ended), ended_(ended) {}

SocketState::~SocketState() {
  CloseHandle(reading_ended_);
  CloseHandle(ended_);
}

void SocketState::EndReading() {
  reading_ended_flag_.store(true, std::memory_order_release);
  SetEvent(reading_ended_);
}

void SocketState::End(bool reset) {
  if (reset) reset_.store(true, std::memory_order_release);
  ended_flag_.store(true, std::memory_order_release);
  EndReading();
  SetEvent(ended_);
}

}  // namespace portwick::sockets

// The wait word on Windows: WaitOnAddress / WakeByAddressSingle, the
// system's address-keyed wait (what a private futex is on Linux).
#include "engine/wait_word.h"

#include <windows.h>

namespace portwick::wait_word {

static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free);

void Wait(std::atomic<int>* word, int expected, std::chrono::nanoseconds timeout) {
  DWORD milliseconds = INFINITE;
  if (timeout.count() >= 0) {
    // Rounded up, so that a short wait still sleeps instead of spinning.
    const auto rounded = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
    milliseconds = rounded >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(rounded);
  }
  WaitOnAddress(reinterpret_cast<volatile VOID*>(word), &expected, sizeof expected, milliseconds);
}

void WakeOne(std::atomic<int>* word) { WakeByAddressSingle(reinterpret_cast<PVOID>(word)); }

}  // namespace portwick::wait_word

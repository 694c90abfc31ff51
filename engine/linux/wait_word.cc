#include "engine/wait_word.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>

namespace portwick::wait_word {

namespace {

// A private futex word is only an address to the kernel.
int* Word(std::atomic<int>* word) { return reinterpret_cast<int*>(word); }
static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free);

}  // namespace

void Wait(std::atomic<int>* word, int expected, std::chrono::nanoseconds timeout) {
  timespec left{};
  if (timeout.count() >= 0) {
    left.tv_sec = static_cast<time_t>(timeout.count() / 1'000'000'000);
    left.tv_nsec = static_cast<long>(timeout.count() % 1'000'000'000);
  }
  // Returns at once when the word no longer holds `expected`; else sleeps
  // until a wake-up, the time is up or a signal comes.
  ::syscall(SYS_futex, Word(word), FUTEX_WAIT_PRIVATE, expected,
            timeout.count() >= 0 ? &left : nullptr, nullptr, 0);
}

void WakeOne(std::atomic<int>* word) {
  ::syscall(SYS_futex, Word(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace portwick::wait_word

#include "run/heap_trimmer.h"

#include <new>
#include <thread>
#include <utility>

#include "engine/detached_thread.h"

namespace portwick {

HeapTrimmer::HeapTrimmer(std::function<void()> trim, std::chrono::milliseconds delay)
    : trim_(trim ? std::move(trim) : std::function<void()>(&ReleaseFreeMemory)), delay_(delay) {}

void HeapTrimmer::OnOpened(const SessionOpened& /*event*/) { open_->fetch_add(1); }

void HeapTrimmer::OnClosed(const SessionClosed& /*event*/) {
  const int64_t closed = closed_since_trim_.fetch_add(1) + 1;
  if (open_->fetch_sub(1) - 1 != 0 || closed < kSessionsPerTrim) return;
  // One trim per burst, even when two threads see the end at once.
  int64_t expected = closed;
  while (expected >= kSessionsPerTrim && !closed_since_trim_.compare_exchange_weak(expected, 0)) {
  }
  if (expected < kSessionsPerTrim) return;
  if (delay_.count() == 0) {
    trim_();
    return;
  }
  // A thread of the engine's: a std::thread detached at once is not safe
  // with MinGW's threads. No thread (or memory) to spare: the memory stays
  // with the allocator.
  try {
    StartDetachedThread(MakeTask([open = open_, trim = trim_, delay = delay_] {
                          std::this_thread::sleep_for(delay);
                          if (open->load() == 0) trim();
                        }),
                        kRelayStackSize);
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace portwick

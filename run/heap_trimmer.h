#ifndef PORTWICK_RUN_HEAP_TRIMMER_H_
#define PORTWICK_RUN_HEAP_TRIMMER_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/session_observer.h"
#include "run/release_free_memory.h"

namespace portwick {

// Gives the memory of a burst of sessions back to the system once the burst
// is over. The allocator keeps what freed sessions held (their relay buffers,
// spread over its per-thread arenas) for reuse, so after thousands of
// sessions the process stays at its peak size; once no session is open and
// at least kSessionsPerTrim have closed since the last time, `trim` runs
// (ReleaseFreeMemory() by default) kTrimDelay later on a thread of its own, if
// still no session is open then (the last sessions' threads free their
// buffers after their close event).
//
// Thread safety: as SessionObserver; events from any threads at once.
class HeapTrimmer : public SessionObserver {
 public:
  static constexpr int64_t kSessionsPerTrim = 256;
  static constexpr std::chrono::milliseconds kTrimDelay{200};

  // `delay` stands in for kTrimDelay (tests give 0: the trim runs at once,
  // on the closing thread).
  explicit HeapTrimmer(std::function<void()> trim = {},
                       std::chrono::milliseconds delay = kTrimDelay);

  bool WantsChunks() const override { return false; }
  void OnOpened(const SessionOpened& event) override;
  void OnClosed(const SessionClosed& event) override;

 private:
  const std::function<void()> trim_;
  const std::chrono::milliseconds delay_;
  // Shared with a pending trim's thread, which may outlive this object.
  const std::shared_ptr<std::atomic<int64_t>> open_ = std::make_shared<std::atomic<int64_t>>(0);
  std::atomic<int64_t> closed_since_trim_{0};
};

}  // namespace portwick

#endif  // PORTWICK_RUN_HEAP_TRIMMER_H_

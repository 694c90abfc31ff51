#ifndef PORTWICK_ENGINE_CONDITIONS_LIVE_CONDITIONS_H_
#define PORTWICK_ENGINE_CONDITIONS_LIVE_CONDITIONS_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "base/mutex.h"
#include "engine/conditions/condition.h"
#include "engine/conditions/shaper.h"

namespace portwick {

// The traffic conditions of one forward while it runs, replaceable at any
// time: sessions accepted later draw from the new ones, and sessions already
// open follow them from their next chunk.
//
// A relay learns of a change with generation(), one relaxed atomic load per
// chunk and no lock; only when the number differs from the one it saw does
// it take Current() (under the lock) and re-draw its directions.
//
// Shared (std::shared_ptr) by the listener run that made it and by every
// session of that run, so it lives as long as the last of them. Every method
// may be called from any thread.
class LiveConditions {
 public:
  explicit LiveConditions(std::vector<Condition> conditions);
  LiveConditions(const LiveConditions&) = delete;
  LiveConditions& operator=(const LiveConditions&) = delete;

  // Puts `conditions` in force and counts a new generation.
  void Replace(std::vector<Condition> conditions) LOCKS_EXCLUDED(mutex_);

  // The conditions in force, and (when `generation` is not null) the
  // generation they belong to.
  std::shared_ptr<const std::vector<Condition>> Current(uint64_t* generation = nullptr) const
      LOCKS_EXCLUDED(mutex_);

  // Counts up with every Replace. Relaxed: a reader that sees a new number
  // takes Current(), whose lock orders it after the Replace.
  uint64_t generation() const { return generation_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> generation_{0};
  mutable Mutex mutex_;
  std::shared_ptr<const std::vector<Condition>> conditions_ GUARDED_BY(mutex_);
};

// What acts on the session with `seed` (SessionIdentity::seed). Each
// condition acts when the session's draw for it is below its probability;
// that draw comes from the seed and the condition's direction, kind and
// values (not its probability nor its place in the list). So a session drawn
// again after an edit keeps every condition that was kept, raising a
// probability only adds sessions, and conditions still draw independently
// of each other. A later condition of a kind replaces an earlier one, as in
// DrawConditions. A pure function; any thread.
SessionConditions DrawForSession(std::span<const Condition> conditions, uint64_t seed);

}  // namespace portwick

#endif  // PORTWICK_ENGINE_CONDITIONS_LIVE_CONDITIONS_H_

#ifndef PORTWICK_ENGINE_CONDITIONS_SHAPED_SENDER_H_
#define PORTWICK_ENGINE_CONDITIONS_SHAPED_SENDER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "engine/conditions/shaper.h"

namespace portwick {

// The calls a ShapedSender makes, given by the relay that owns it (tests
// give their own). None of them may be empty.
struct ShapedSenderCalls {
  using Clock = Shaper::Clock;
  // Sends all of the bytes; false when the send failed (the caller has
  // noted why).
  std::function<bool(const char* data, size_t size)> send;
  // Waits until `due` (at once when it has passed); false when the session
  // was stopped meanwhile. Must wake at once on a stop.
  std::function<bool(Clock::time_point due)> wait_until;
  // Told of each piece just before it is sent: its bytes and how long after
  // their arrival they go.
  std::function<void(const char* data, size_t size, Clock::duration held)> on_piece;
};

// Carries out a Shaper's plan for one direction of a session: for each chunk
// received it waits for every piece's due time and sends it, and says what
// the conditions made of the chunk. No clock of its own: arrival times come
// from the caller, waiting is the caller's (stop-aware) wait.
//
// Owned by the relay thread of its direction; not thread-safe.
class ShapedSender {
 public:
  using Clock = Shaper::Clock;

  enum class Outcome {
    kSent,     // every byte of the chunk went
    kFailed,   // a send failed; the rest did not go
    kStopped,  // the session was stopped while waiting
    kCut,      // the cut was reached: the bytes up to it went, end the session
    kStalled,  // nothing of the rest goes, nor anything later: stop reading
  };

  ShapedSender(const DirectionConditions& conditions, Clock::time_point start, uint64_t seed,
               ShapedSenderCalls calls);

  // Sends `size` bytes at `data` received at `arrival` as the conditions
  // say.
  Outcome Send(const char* data, size_t size, Clock::time_point arrival);

  // Waits until an end of stream that came at `arrival` may be passed on:
  // kSent when it may go now, kStopped when the session was stopped
  // meanwhile, kStalled when it never goes.
  Outcome WaitForEnd(Clock::time_point arrival);

  // Bytes that went in all, and how the cut ends the session.
  uint64_t sent() const { return sent_; }
  CutEnd cut_end() const { return shaper_.cut_end(); }
  std::optional<Clock::time_point> stall_at() const { return shaper_.stall_at(); }

 private:
  Shaper shaper_;
  ShapedSenderCalls calls_;
  uint64_t sent_ = 0;
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_CONDITIONS_SHAPED_SENDER_H_

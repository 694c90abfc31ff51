#ifndef PORTWICK_ENGINE_CONDITIONS_SHAPED_SENDER_H_
#define PORTWICK_ENGINE_CONDITIONS_SHAPED_SENDER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
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

// Carries out a Shaper's plan for one direction of a session. The relay
// hands it each chunk as it is received (Take): the part that passes is
// copied and held in a queue, oldest first, while the relay goes on
// receiving, so a delay holds every chunk that long from its own arrival
// instead of adding up chunk by chunk. The relay sends what has come due
// (SendDue) whenever it wakes, and waits for bytes no longer than next_due.
// Memory is bounded: while more than held_limit() bytes are held, Take
// sends the oldest pieces at their time before it returns, so the relay
// stops receiving meanwhile and the source is held back by TCP
// (back-pressure). The limit is what a link of that delay and speed holds:
// the delay's worth of bytes at the pace a rate (or a slice with a pause)
// allows, plus one rate window, and at most kMaxHeldBytes; so a direction
// that is only paced reads barely ahead of what it sends.
// Bytes leave in the order they came, each piece no sooner than its time.
//
// No clock of its own: arrival times and "now" come from the caller,
// waiting is the caller's (stop-aware) wait. Whoever replaces it (other
// conditions) drains it first, or the held bytes are lost with it.
//
// Owned by the relay thread of its direction; not thread-safe.
class ShapedSender {
 public:
  using Clock = Shaper::Clock;

  // The most bytes ever held before Take sends some (the last chunk may go
  // over): a delayed direction moves at most this much per delay.
  static constexpr size_t kMaxHeldBytes = size_t{4} << 20;

  enum class Outcome {
    kSent,     // done: the chunk taken, or every piece due sent
    kFailed,   // a send failed; the rest did not go
    kStopped,  // the session was stopped while waiting
    kCut,      // the cut is reached: drain the bytes up to it, then end the session
    kStalled,  // nothing of the chunk passes, nor anything later: drain, stop receiving
  };

  ShapedSender(const DirectionConditions& conditions, Clock::time_point start, uint64_t seed,
               ShapedSenderCalls calls);

  // Takes `size` bytes at `data` received at `arrival` and holds what
  // passes of them; sends the oldest pieces first, at their time, while
  // more than kMaxHeldBytes are held. May throw std::bad_alloc (nothing of
  // the chunk is held then).
  Outcome Take(const char* data, size_t size, Clock::time_point arrival);

  // Sends the held pieces due by `now`, without waiting.
  Outcome SendDue(Clock::time_point now);
  // Sends every held piece, each at its time.
  Outcome Drain();
  // When the oldest held piece is due; nothing while none is held.
  std::optional<Clock::time_point> next_due() const;

  // Drains, then waits until an end of stream that came at `arrival` may
  // be passed on: kSent when it may go now, kStopped when the session was
  // stopped meanwhile, kStalled when it never goes.
  Outcome WaitForEnd(Clock::time_point arrival);

  // Bytes sent in all, bytes held now, and the most held before Take sends.
  uint64_t sent() const { return sent_; }
  size_t held_bytes() const { return held_bytes_; }
  size_t held_limit() const { return held_limit_; }
  CutEnd cut_end() const { return shaper_.cut_end(); }
  std::optional<Clock::time_point> stall_at() const { return shaper_.stall_at(); }

 private:
  // The passing bytes of one chunk, until its last piece has gone.
  struct HeldChunk {
    std::unique_ptr<char[]> bytes;
    size_t size = 0;
    size_t sent = 0;
    Clock::time_point arrival;
  };

  // Sends the oldest held piece at its time.
  Outcome SendNext();
  // Plans the oldest held chunk and takes its first piece.
  void PlanFront();

  Shaper shaper_;
  ShapedSenderCalls calls_;
  const size_t held_limit_;
  std::deque<HeldChunk> held_;
  size_t held_bytes_ = 0;
  // The next piece of held_.front(); there is one exactly while held_ has a
  // chunk.
  std::optional<Shaper::Piece> next_;
  uint64_t sent_ = 0;
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_CONDITIONS_SHAPED_SENDER_H_

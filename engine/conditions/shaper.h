#ifndef PORTWICK_ENGINE_CONDITIONS_SHAPER_H_
#define PORTWICK_ENGINE_CONDITIONS_SHAPER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <span>

#include "engine/conditions/condition.h"

namespace portwick {

// The conditions that act on one direction of one session, once the
// session's draw (probability) has been made. Zero means "none" for every
// field but the optional ones.
struct DirectionConditions {
  std::chrono::milliseconds delay{0};
  std::chrono::milliseconds jitter{0};
  uint64_t rate = 0;  // bytes per second
  uint64_t slice = 0;
  std::chrono::milliseconds pause{0};
  std::optional<uint64_t> cut;
  CutEnd cut_end = CutEnd::kFin;
  std::optional<std::chrono::milliseconds> stall;
  std::chrono::milliseconds close_delay{0};

  // True when nothing acts on the direction: it may take the zero-copy path.
  bool empty() const {
    return delay.count() == 0 && jitter.count() == 0 && rate == 0 && slice == 0 && !cut && !stall &&
           close_delay.count() == 0;
  }
  friend bool operator==(const DirectionConditions&, const DirectionConditions&) = default;
};

struct SessionConditions {
  DirectionConditions up;    // client to server
  DirectionConditions down;  // server to client
};

// Picks what acts on one session: each condition is drawn once (one number
// from `random`, whatever its probability, so a draw doesn't shift the
// others) and, when it applies, goes to its direction or both; a later
// condition of the same kind replaces an earlier one for its directions.
// A pure function of its inputs; any thread.
SessionConditions DrawConditions(std::span<const Condition> conditions, std::mt19937_64& random);

// Plans when the bytes of one conditioned direction may be sent. Each chunk
// is first admitted as it is received (Admit: how much of it passes, and
// whether the cut or the stall is reached), and its pieces are planned
// later, when the chunks admitted before it have gone (Plan, NextPiece),
// each with the time before which it must not be sent. The plan depends
// only on the chunks' sizes and arrival times, so planning late gives the
// same times as planning at once. It never reorders: a piece is never due
// before the one planned ahead of it.
//
//   delay   the chunk's bytes are due `delay` (plus a uniform jitter in
//           -jitter..+jitter, never below 0) after they arrived;
//   rate    pieces of at most kRateWindow's worth of bytes, spaced so that
//           no more than `rate` bytes per second go out, with at most one
//           window's worth of credit saved while idle;
//   slice   pieces of at most `slice` bytes, `pause` between two pieces;
//   cut     bytes beyond `cut` in all don't pass; the chunk that reaches it
//           says so, and the session then ends with cut_end;
//   stall   bytes that arrive `stall` or more after the start don't pass,
//           nor does anything after them;
//   close   an end of stream is due close_delay (and the delay) after it
//           came, and never before the last piece.
//
// Time is passed in; the shaper reads no clock, sleeps never and makes no
// system call. Owned by the one relay thread of its direction.
class Shaper {
 public:
  using Clock = std::chrono::steady_clock;
  // The time over which a rate is smoothed.
  static constexpr std::chrono::milliseconds kRateWindow{10};
  // The largest piece a rate hands out.
  static constexpr size_t kMaxRatePiece = 64 * 1024;

  // `start`: when the session connected (stall counts from it); `seed`
  // draws the jitter.
  Shaper(const DirectionConditions& conditions, Clock::time_point start, uint64_t seed);

  struct Piece {
    size_t size = 0;
    Clock::time_point due;
    friend bool operator==(const Piece&, const Piece&) = default;
  };

  // What becomes of a chunk admitted.
  struct Chunk {
    size_t passing = 0;    // of its bytes, the first `passing` pass (in pieces)
    bool cut = false;      // the cut is reached: end the session after them
    bool stalled = false;  // the rest stays behind, and so does all that follows
  };

  // Admits a chunk of `size` bytes received at `arrival` (chunks in the
  // order they came): what passes of it.
  Chunk Admit(size_t size, Clock::time_point arrival);
  // Plans the pieces of the `size` bytes that passed of a chunk admitted at
  // `arrival`; they follow from NextPiece. Chunks are planned in the order
  // they were admitted, each once every piece of the one before was taken.
  void Plan(size_t size, Clock::time_point arrival);
  // The next piece of the chunk planned, or nothing once all of it is.
  std::optional<Piece> NextPiece();

  // When an end of stream that came at `arrival` is due to be passed on,
  // once every chunk admitted before it was planned; nothing once the
  // direction is stalled (it is never passed on then).
  std::optional<Clock::time_point> EndDue(Clock::time_point arrival);

  // When the stall begins, if there is one.
  std::optional<Clock::time_point> stall_at() const { return stall_at_; }
  bool stalled() const { return stalled_; }
  CutEnd cut_end() const { return conditions_.cut_end; }
  const DirectionConditions& conditions() const { return conditions_; }

 private:
  // The delay of one chunk, jitter drawn.
  Clock::duration DrawDelay();

  const DirectionConditions conditions_;
  std::optional<Clock::time_point> stall_at_;
  std::mt19937_64 random_;
  size_t rate_piece_ = 0;  // the largest piece the rate lets out at once

  uint64_t passed_ = 0;  // bytes admitted in all (for the cut)
  bool stalled_ = false;
  bool cut_ = false;
  size_t remaining_ = 0;                       // bytes of the current chunk still to plan
  Clock::time_point ready_;                    // when the current chunk's bytes are due
  Clock::time_point bucket_;                   // when the rate lets the next byte out
  std::optional<Clock::time_point> last_due_;  // of the last piece planned
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_CONDITIONS_SHAPER_H_

#include "engine/conditions/shaper.h"

#include <algorithm>

namespace portwick {

namespace {

using std::chrono::nanoseconds;

// A number in [0, 1) from 53 bits of `random`; the same on every platform
// (the standard distributions are not).
double UnitDraw(std::mt19937_64& random) {
  return static_cast<double>(random() >> 11) * (1.0 / 9007199254740992.0);
}

void Apply(const Condition& condition, DirectionConditions* to) {
  switch (condition.kind) {
    case ConditionKind::kDelay:
      to->delay = condition.time;
      to->jitter = condition.jitter;
      return;
    case ConditionKind::kRate:
      to->rate = condition.bytes;
      return;
    case ConditionKind::kSlice:
      to->slice = condition.bytes;
      to->pause = condition.pause;
      return;
    case ConditionKind::kCut:
      to->cut = condition.bytes;
      to->cut_end = condition.end;
      return;
    case ConditionKind::kStall:
      to->stall = condition.time;
      return;
    case ConditionKind::kCloseDelay:
      to->close_delay = condition.time;
      return;
  }
}

}  // namespace

SessionConditions DrawConditions(std::span<const Condition> conditions, std::mt19937_64& random) {
  SessionConditions drawn;
  for (const Condition& condition : conditions) {
    if (UnitDraw(random) >= condition.probability) continue;
    if (condition.direction != ConditionDirection::kDown) Apply(condition, &drawn.up);
    if (condition.direction != ConditionDirection::kUp) Apply(condition, &drawn.down);
  }
  return drawn;
}

Shaper::Shaper(const DirectionConditions& conditions, Clock::time_point start, uint64_t seed)
    : conditions_(conditions), random_(seed), bucket_(start) {
  if (conditions_.stall) stall_at_ = start + *conditions_.stall;
  if (conditions_.rate != 0) {
    const uint64_t window_bytes =
        conditions_.rate * static_cast<uint64_t>(kRateWindow.count()) / 1000;
    rate_piece_ = static_cast<size_t>(std::clamp<uint64_t>(window_bytes, 1, kMaxRatePiece));
  }
}

Shaper::Clock::duration Shaper::DrawDelay() {
  nanoseconds delay = conditions_.delay;
  const int64_t jitter_us = std::chrono::microseconds(conditions_.jitter).count();
  if (jitter_us > 0) {
    const uint64_t span = static_cast<uint64_t>(2 * jitter_us + 1);
    delay += std::chrono::microseconds(static_cast<int64_t>(random_() % span) - jitter_us);
  }
  return std::max(delay, nanoseconds(0));
}

Shaper::Chunk Shaper::Admit(size_t size, Clock::time_point arrival) {
  Chunk chunk;
  if (stall_at_ && arrival >= *stall_at_) stalled_ = true;
  if (stalled_ || cut_) {
    chunk.cut = cut_;
    chunk.stalled = stalled_;
    return chunk;
  }
  size_t passing = size;
  if (conditions_.cut) {
    const uint64_t left = *conditions_.cut - passed_;
    if (passing >= left) {
      passing = static_cast<size_t>(left);
      cut_ = true;
    }
  }
  passed_ += passing;
  chunk.passing = passing;
  chunk.cut = cut_;
  return chunk;
}

void Shaper::Plan(size_t size, Clock::time_point arrival) {
  remaining_ = size;
  // Order kept: a chunk whose jitter came out shorter waits for the one before.
  ready_ = arrival + DrawDelay();
  if (last_due_) ready_ = std::max(ready_, *last_due_);
}

std::optional<Shaper::Piece> Shaper::NextPiece() {
  if (remaining_ == 0) return std::nullopt;
  Piece piece;
  piece.size = remaining_;
  if (conditions_.slice != 0) piece.size = std::min<uint64_t>(piece.size, conditions_.slice);
  if (rate_piece_ != 0) piece.size = std::min(piece.size, rate_piece_);
  piece.due = ready_;
  if (conditions_.rate != 0) {
    // Idle time saves credit for one window at most.
    bucket_ = std::max(bucket_, piece.due - kRateWindow);
    piece.due = std::max(piece.due, bucket_);
    bucket_ +=
        nanoseconds(static_cast<int64_t>(piece.size * uint64_t{1000000000} / conditions_.rate));
  }
  if (last_due_) {
    if (conditions_.slice != 0) piece.due = std::max(piece.due, *last_due_ + conditions_.pause);
    piece.due = std::max(piece.due, *last_due_);
  }
  last_due_ = piece.due;
  remaining_ -= piece.size;
  return piece;
}

std::optional<Shaper::Clock::time_point> Shaper::EndDue(Clock::time_point arrival) {
  if (stall_at_ && arrival >= *stall_at_) stalled_ = true;
  if (stalled_) return std::nullopt;
  Clock::time_point due = arrival + conditions_.delay + conditions_.close_delay;
  if (last_due_) due = std::max(due, *last_due_);
  return due;
}

}  // namespace portwick

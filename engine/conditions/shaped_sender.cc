#include "engine/conditions/shaped_sender.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace portwick {

namespace {

// The delay's worth of bytes (and a rate window's) at the pace the
// conditions allow, at most `most`.
size_t HeldLimit(const DirectionConditions& conditions, size_t most) {
  using std::chrono::milliseconds;
  const uint64_t ms = static_cast<uint64_t>(
      (conditions.delay + conditions.jitter + milliseconds(Shaper::kRateWindow)).count());
  uint64_t limit = most;
  if (conditions.rate != 0) limit = std::min(limit, conditions.rate * ms / 1000);
  if (conditions.slice != 0 && conditions.pause.count() != 0) {
    limit =
        std::min(limit, conditions.slice * ms / static_cast<uint64_t>(conditions.pause.count()));
  }
  return static_cast<size_t>(std::max<uint64_t>(limit, 1));
}

}  // namespace

ShapedSender::ShapedSender(const DirectionConditions& conditions, Clock::time_point start,
                           uint64_t seed, ShapedSenderCalls calls)
    : shaper_(conditions, start, seed),
      calls_(std::move(calls)),
      held_limit_(HeldLimit(conditions, kMaxHeldBytes)) {}

ShapedSender::Outcome ShapedSender::Take(const char* data, size_t size, Clock::time_point arrival) {
  const Shaper::Chunk chunk = shaper_.Admit(size, arrival);
  if (chunk.passing > 0) {
    HeldChunk held;
    held.bytes = std::make_unique_for_overwrite<char[]>(chunk.passing);
    std::memcpy(held.bytes.get(), data, chunk.passing);
    held.size = chunk.passing;
    held.arrival = arrival;
    held_.push_back(std::move(held));
    held_bytes_ += chunk.passing;
    if (held_.size() == 1) PlanFront();
  }
  while (held_bytes_ > held_limit_) {
    const Outcome outcome = SendNext();
    if (outcome != Outcome::kSent) return outcome;
  }
  if (chunk.cut) return Outcome::kCut;
  if (chunk.stalled) return Outcome::kStalled;
  return Outcome::kSent;
}

ShapedSender::Outcome ShapedSender::SendDue(Clock::time_point now) {
  while (next_ && next_->due <= now) {
    const Outcome outcome = SendNext();
    if (outcome != Outcome::kSent) return outcome;
  }
  return Outcome::kSent;
}

ShapedSender::Outcome ShapedSender::Drain() {
  while (next_) {
    const Outcome outcome = SendNext();
    if (outcome != Outcome::kSent) return outcome;
  }
  return Outcome::kSent;
}

std::optional<ShapedSender::Clock::time_point> ShapedSender::next_due() const {
  if (!next_) return std::nullopt;
  return next_->due;
}

ShapedSender::Outcome ShapedSender::WaitForEnd(Clock::time_point arrival) {
  const Outcome drained = Drain();
  if (drained != Outcome::kSent) return drained;
  const std::optional<Clock::time_point> due = shaper_.EndDue(arrival);
  if (!due) return Outcome::kStalled;
  return calls_.wait_until(*due) ? Outcome::kSent : Outcome::kStopped;
}

ShapedSender::Outcome ShapedSender::SendNext() {
  const Shaper::Piece piece = *next_;
  if (!calls_.wait_until(piece.due)) return Outcome::kStopped;
  HeldChunk& chunk = held_.front();
  const char* data = chunk.bytes.get() + chunk.sent;
  calls_.on_piece(data, piece.size, piece.due - chunk.arrival);
  if (!calls_.send(data, piece.size)) return Outcome::kFailed;
  chunk.sent += piece.size;
  held_bytes_ -= piece.size;
  sent_ += piece.size;
  next_ = shaper_.NextPiece();
  if (!next_) {
    held_.pop_front();
    if (!held_.empty()) PlanFront();
  }
  return Outcome::kSent;
}

void ShapedSender::PlanFront() {
  const HeldChunk& front = held_.front();
  shaper_.Plan(front.size, front.arrival);
  next_ = shaper_.NextPiece();
}

}  // namespace portwick

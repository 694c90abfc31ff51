#include "engine/conditions/shaped_sender.h"

#include <utility>

namespace portwick {

ShapedSender::ShapedSender(const DirectionConditions& conditions, Clock::time_point start,
                           uint64_t seed, ShapedSenderCalls calls)
    : shaper_(conditions, start, seed), calls_(std::move(calls)) {}

ShapedSender::Outcome ShapedSender::Send(const char* data, size_t size, Clock::time_point arrival) {
  const Shaper::Chunk chunk = shaper_.Begin(size, arrival);
  while (const std::optional<Shaper::Piece> piece = shaper_.NextPiece()) {
    if (!calls_.wait_until(piece->due)) return Outcome::kStopped;
    calls_.on_piece(data, piece->size, piece->due - arrival);
    if (!calls_.send(data, piece->size)) return Outcome::kFailed;
    data += piece->size;
    sent_ += piece->size;
  }
  if (chunk.cut) return Outcome::kCut;
  if (chunk.stalled) return Outcome::kStalled;
  return Outcome::kSent;
}

ShapedSender::Outcome ShapedSender::WaitForEnd(Clock::time_point arrival) {
  const std::optional<Clock::time_point> due = shaper_.EndDue(arrival);
  if (!due) return Outcome::kStalled;
  return calls_.wait_until(*due) ? Outcome::kSent : Outcome::kStopped;
}

}  // namespace portwick

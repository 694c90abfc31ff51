// RelayPump and traffic conditions that change while the session runs: the
// one place where a direction takes up new conditions, and how it makes the
// ShapedSender that carries them out.
#include <chrono>
#include <memory>
#include <utility>
#include <vector>

#include "engine/conditions/live_conditions.h"
#include "engine/relay_pump.h"

namespace portwick {

bool RelayPump::FollowConditions() {
  const std::shared_ptr<const std::vector<Condition>> current =
      live_conditions_->Current(&seen_generation_);
  const SessionConditions drawn = DrawForSession(*current, session_->identity().seed);
  const DirectionConditions& now = direction_ == Direction::kClientToServer ? drawn.up : drawn.down;
  // An edit that left this direction as it was keeps its shaper, and with it
  // the place in its rate, slice and jitter.
  if (now == following_) return true;
  // Bytes gathered from earlier chunks go before the chunk that follows the
  // new conditions (the conditioned path doesn't gather).
  if (!SendGathered()) return false;
  StartShaping(now);
  return true;
}

void RelayPump::StartShaping(const DirectionConditions& conditions) {
  following_ = conditions;
  if (conditions.empty()) {
    shaped_.reset();
    return;
  }
  // A cut counts the direction's bytes from the session's start, a stall its
  // time (shaping_start_): conditions taken up later act as if they had been
  // there all along, as far as what has passed allows.
  DirectionConditions remaining = conditions;
  const uint64_t sent = sent_ + SplicedBytes();
  if (remaining.cut) remaining.cut = *remaining.cut > sent ? *remaining.cut - sent : 0;
  ShapedSenderCalls calls;
  calls.send = [this](const char* data, size_t size) {
    return SendNow(data, static_cast<int32_t>(size));
  };
  calls.wait_until = [this](ShapedSender::Clock::time_point due) { return WaitUntil(due); };
  calls.on_piece = [this](const char* data, size_t size, ShapedSender::Clock::duration held) {
    ReportPiece(data, size, std::chrono::duration_cast<std::chrono::nanoseconds>(held));
  };
  const bool up = direction_ == Direction::kClientToServer;
  shaped_ = std::make_unique<ShapedSender>(
      remaining, shaping_start_, session_->identity().seed + (up ? 1 : 2), std::move(calls));
}

}  // namespace portwick

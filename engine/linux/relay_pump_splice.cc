// RelayPump's splicing, and the zero-copy hooks of zero_copy.h: the Linux
// build relays a direction whose bytes nobody needs with splice through a
// pooled pipe, and parks idle directions with the epoll idle parker.
#include <functional>
#include <utility>

#include "engine/linux/idle_parker.h"
#include "engine/linux/pipe_pool.h"
#include "engine/linux/splice_relay.h"
#include "engine/relay_pump.h"
#include "engine/socket_ops.h"
#include "engine/zero_copy.h"

namespace portwick {

void SpliceRelayDeleter::operator()(SpliceRelay* relay) const { delete relay; }

void RelayPump::StartSplicing() {
  // With an idle time-out the bytes that come keep the session's idle clock.
  std::function<void()> on_bytes;
  if (idle_check_ms_ != 0) on_bytes = [session = session_.get()] { session->NoteActivity(); };
  splice_.reset(new SpliceRelay(io_, &PipePool::Default(), source_fd_, destination_fd_,
                                log_sink_.get(), std::move(on_bytes)));
  splice_->WatchConditions(live_conditions_, seen_generation_);
}

std::optional<RelayPump::Progress> RelayPump::RelaySpliced(bool may_park, bool* ended_normally) {
  while (true) {
    switch (splice_->Relay()) {
      case SpliceRelay::Result::kIdle:
        // Idle for the session's time-out: both sides get a FIN, this one
        // when the source reads its end next.
        if (session_->IdleTimedOut()) {
          EndIdle();
          continue;
        }
        if (may_park) return Progress::kIdle;
        WaitReadableOrIdle();
        continue;
      case SpliceRelay::Result::kEnded:
        *ended_normally = EndedNormally();
        return Progress::kDone;
      case SpliceRelay::Result::kReceiveFailed:
        Failed(ResetBySource(), Status::Error("recv", splice_->error()));
        return Progress::kDone;
      case SpliceRelay::Result::kSendFailed:
        SendFailed(splice_->error());
        return Progress::kDone;
      case SpliceRelay::Result::kDetached:
        Failed(CloseReason::kStopped, Status::Error("log", 0, "log sink released"));
        return Progress::kDone;
      case SpliceRelay::Result::kRefused:
        EndSplicing();
        // Copying now: its receives wake to look at the idle time.
        if (idle_check_ms_ != 0) sockets::SetReceiveTimeout(source_fd_, idle_check_ms_);
        return std::nullopt;
      case SpliceRelay::Result::kLeaveForCopying:
        // The chunk in the pipe is logged by copying (ReceiveFromPipe), and
        // so is everything after it.
        sockets::SetReceiveTimeout(source_fd_, idle_check_ms_);
        return std::nullopt;
      case SpliceRelay::Result::kConditionsChanged:
        if (!FollowConditions()) return Progress::kDone;
        if (shaped_ == nullptr) {
          splice_->WatchConditions(live_conditions_, seen_generation_);
          continue;
        }
        // Conditioned from this chunk on: copying takes over, and takes the
        // chunk in the pipe first (ReceiveFromPipe).
        sockets::SetReceiveTimeout(source_fd_, idle_check_ms_);
        return std::nullopt;
    }
  }
}

void RelayPump::EndSplicing() {
  relayed_ += splice_->bytes();
  sent_ += splice_->bytes();
  splice_.reset();  // the pipe goes back to the pool (or is closed)
}

uint64_t RelayPump::SplicedBytes() const { return splice_ != nullptr ? splice_->bytes() : 0; }

ssize_t RelayPump::ReceiveFromPipe(char* buffer, size_t room) {
  const ssize_t n = splice_->TakeFromPipe(buffer, room);
  if (n != 0) return n;
  EndSplicing();
  return -EAGAIN;
}

namespace zero_copy {

void ReleaseIdlePipes() { PipePool::Default().CloseIdle(); }

bool Park(SocketHandle fd, std::unique_ptr<ThreadTask>& task,
          std::optional<std::chrono::steady_clock::time_point> deadline) {
  return IdleParker::Default().Park(fd, task, deadline);
}

}  // namespace zero_copy

}  // namespace portwick

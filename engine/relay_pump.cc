#include "engine/relay_pump.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "engine/socket_ops.h"
#include "engine/zero_copy.h"

namespace portwick {

namespace {

std::unique_ptr<char[]> NewBuffer() {
  return std::make_unique_for_overwrite<char[]>(RelayPump::kBufferSize + 1);
}

SessionObserver* ChunkObserver(SessionObserver* observer) {
  return observer != nullptr && observer->WantsChunks() ? observer : nullptr;
}

// A parked pump on its way back to a thread.
class ResumeTask final : public ThreadTask {
 public:
  explicit ResumeTask(std::unique_ptr<RelayPump> parked) : pump(std::move(parked)) {}
  void Run() override { RelayPump::RunParking(std::move(pump)); }

  std::unique_ptr<RelayPump> pump;
};

// Built with care: it is needed when memory has run out.
Status OutOfMemory() noexcept {
  try {
    return Status::Error("memory", ENOMEM);
  } catch (const std::bad_alloc&) {
    return Status();
  }
}

}  // namespace

RelayPump::RelayPump(std::shared_ptr<Session> session, Direction direction,
                     std::unique_ptr<MessageFramer> framer, std::shared_ptr<LogSinkHandle> log_sink,
                     SocketIo* io)
    : session_(std::move(session)),
      direction_(direction),
      source_fd_(direction == Direction::kClientToServer ? session_->client_fd()
                                                         : session_->destination_fd()),
      destination_fd_(direction == Direction::kClientToServer ? session_->destination_fd()
                                                              : session_->client_fd()),
      observer_(session_->observer()),
      chunk_observer_(ChunkObserver(observer_)),
      framer_(std::move(framer)),
      io_(io),
      log_sink_(std::move(log_sink)),
      live_conditions_(session_->identity().live_conditions.get()),
      seen_generation_(session_->identity().conditions_generation),
      shaping_start_(std::chrono::steady_clock::now()) {
  const SessionIdentity& identity = session_->identity();
  const bool up = direction_ == Direction::kClientToServer;
  StartShaping(up ? identity.conditions.up : identity.conditions.down);
  if (identity.idle_timeout.count() != 0) {
    // A quarter of the time-out: an idle session ends at most that late.
    idle_check_ms_ = std::max(10, static_cast<int>(identity.idle_timeout.count() / 4));
  }
  // A sink that takes its records from a pipe lets the bytes stay in the
  // kernel where the platform splices.
  const bool log_needs_bytes =
      log_sink_ != nullptr && log_sink_->NeedsBytes() && !log_sink_->TakesPipedRecords();
  const bool needs_bytes = !framer_->IsPassThrough() || chunk_observer_ != nullptr ||
                           log_needs_bytes || shaped_ != nullptr;
  if (!needs_bytes) StartSplicing();
  // A copied direction's receives wake now and then to look at the idle
  // time; a spliced one looks whenever it is idle, and parks until then.
  if (splice_ == nullptr && idle_check_ms_ != 0) {
    sockets::SetReceiveTimeout(source_fd_, idle_check_ms_);
  }
}

RelayPump::~RelayPump() {
  if (!started_ || finished_) return;
  // Parked and then no thread to go on with: the session can't go on.
  failure_ = CloseReason::kStopped;
  try {
    failure_error_ = Status::Error("thread", EAGAIN);
  } catch (const std::bad_alloc&) {
  }
  Finish(false);
}

void RelayPump::TakeOver(std::chrono::steady_clock::time_point relaying_since, uint64_t sent_before,
                         std::unique_ptr<char[]> carried, int32_t size) {
  shaping_start_ = relaying_since;
  sent_ = sent_before;
  if (carried == nullptr || size <= 0) return;
  carried_ = std::move(carried);
  carried_size_ = size;
  if (splice_ == nullptr) return;
  splice_.reset();
  if (idle_check_ms_ != 0) sockets::SetReceiveTimeout(source_fd_, idle_check_ms_);
}

ssize_t RelayPump::ReceiveCarried(char* buffer, size_t room) {
  const int32_t left = carried_size_ - carried_taken_;
  if (left == 0) {
    carried_.reset();
    return -EAGAIN;
  }
  const int32_t n = static_cast<int32_t>(std::min<size_t>(room, static_cast<size_t>(left)));
  std::memcpy(buffer, carried_.get() + carried_taken_, static_cast<size_t>(n));
  carried_taken_ += n;
  return n;
}

void RelayPump::Run() { Step(/*may_park=*/false); }

void RelayPump::RunParking(std::unique_ptr<RelayPump> pump) {
  while (pump->Step(/*may_park=*/true) == Progress::kIdle) {
    const SocketHandle fd = pump->source_fd_;
    // With an idle time-out the parked direction comes back then too, to
    // end the session if it is still idle.
    const auto deadline = pump->session_->IdleDeadline();
    auto* resume = new (std::nothrow) ResumeTask(std::move(pump));
    if (resume != nullptr) {
      std::unique_ptr<ThreadTask> task(resume);
      if (zero_copy::Park(fd, task, deadline)) return;
      pump = std::move(resume->pump);
    }
    // Not parked: wait on this thread instead.
    pump->WaitReadableOrIdle();
  }
}

void RelayPump::WaitReadableOrIdle() {
  const auto deadline = session_->IdleDeadline();
  if (!deadline) {
    sockets::WaitReadable(source_fd_);
    return;
  }
  const auto left = *deadline - std::chrono::steady_clock::now();
  sockets::WaitReadable(source_fd_, std::max<std::chrono::nanoseconds>(left, {}));
}

RelayPump::Progress RelayPump::Step(bool may_park) {
  started_ = true;
  bool ended_normally = false;
  try {
    std::optional<Progress> spliced;
    if (splice_ != nullptr) spliced = RelaySpliced(may_park, &ended_normally);
    if (spliced == Progress::kIdle) return Progress::kIdle;
    if (!spliced) ended_normally = Relay();
  } catch (const std::bad_alloc&) {
    ended_normally = false;
    failure_ = CloseReason::kStopped;
    failure_error_ = OutOfMemory();
  }
  Finish(ended_normally);
  return Progress::kDone;
}

void RelayPump::Finish(bool ended_normally) {
  finished_ = true;
  if (splice_ != nullptr) EndSplicing();
  if (observer_ != nullptr) session_->AddRelayed(direction_, relayed_);
  if (ended_normally) {
    // Reported before the FIN is passed on (as chunks are before they are
    // sent), so the peer's answering FIN can't be reported ahead of it.
    if (observer_ != nullptr) {
      observer_->OnHalfClosed(SessionHalfClosed{session_->id(), direction_, EventTime::Now()});
    }
    session_->EndSending(destination_fd_);
  } else {
    session_->Fail(failure_, failure_error_);
  }
  session_.reset();
}

bool RelayPump::EndedNormally() {
  // After a reset from outside a receive may read as end-of-stream.
  if (session_->cancelled()) return Failed(CloseReason::kStopped, Status());
  // The peer's reset, met first by the other direction: passed on as one.
  if (session_->EndWasReset(source_fd_)) {
    return Failed(ResetBySource(), Status::Error("recv", ECONNRESET));
  }
  return true;
}

CloseReason RelayPump::ResetBySource() const {
  return direction_ == Direction::kClientToServer ? CloseReason::kResetByClient
                                                  : CloseReason::kResetByServer;
}

bool RelayPump::Failed(CloseReason how, Status error) {
  failure_ = how;
  failure_error_ = std::move(error);
  return false;
}

bool RelayPump::Relay() {
  if (buffer_ == nullptr) {
    buffer_ = NewBuffer();
    message_start_ = write_position_ = buffer_.get();
  }
  bool skip_receive = false;
  while (true) {
    if (!skip_receive) {
      if (write_position_ == buffer_.get() + kBufferSize) MoveToFront();
      const size_t room = static_cast<size_t>(buffer_.get() + kBufferSize - write_position_);
      // At once while bytes are gathered; else (or when none is there yet)
      // the gathered bytes go first and the receive waits, with no send
      // buffer kept meanwhile.
      ssize_t n = carried_ != nullptr  ? ReceiveCarried(write_position_, room)
                  : splice_ != nullptr ? ReceiveFromPipe(write_position_, room)
                  : outgoing_size_ > 0 ? io_->RecvIfReady(source_fd_, write_position_, room)
                                       : -EAGAIN;
      if (n == -EAGAIN) {
        if (!SendGathered()) return false;
        outgoing_.reset();
        if (shaped_ == nullptr) {
          n = ReceiveWatchingIdle(write_position_, room);
        } else if (const std::optional<bool> ended = ReceiveShaped(write_position_, room, &n)) {
          return *ended;
        }
      }
      if (n == 0) {
        const auto end_arrival = std::chrono::steady_clock::now();
        // What came before a reset is sent on first, as before a receive
        // error (and before the tail, at a clean end); held bytes too.
        if (!SendGathered() || !DrainHeld()) return false;
        return EndedNormally() && FlushTail() && SendGathered() && WaitToPassEnd(end_arrival);
      }
      if (n < 0) {
        // What came before the failure is sent on first, as it would have
        // been without gathering or holding (and held bytes arrive before
        // the reset that follows).
        if (!SendGathered() || !DrainHeld()) return false;
        if (shaped_ != nullptr) WaitUntilTaken();
        return Failed(ResetBySource(), Status::Error("recv", static_cast<int>(n)));
      }
      // The chunk just received follows the conditions in force now.
      if (ConditionsChanged() && !FollowConditions()) return false;
      if (chunk_observer_ != nullptr || shaped_ != nullptr) received_at_ = EventTime::Now();
      if (idle_check_ms_ != 0) session_->NoteActivity();
      received_ = static_cast<int32_t>(n);
      write_position_[received_] = '\0';
    }
    available_ = pending_ + received_;

    const char* found = nullptr;
    if (!framer_->FindMessageEnd(message_start_, available_, &found)) {
      if (available_ == kBufferSize) {
        // The partial message fills the whole buffer (it starts at the
        // buffer's front, see MoveToFront): set the buffer aside.
        char* full = message_start_;
        if (!accumulator_.Append(full, kBufferSize, std::move(buffer_))) {
          return Failed(CloseReason::kStopped, OutOfMemory());
        }
        buffer_ = NewBuffer();
        message_start_ = write_position_ = buffer_.get();
        pending_ = received_ = 0;
      } else {
        pending_ = available_;
        write_position_ = message_start_ + available_;
        received_ = 0;
      }
      skip_receive = false;
      continue;
    }
    // A framer that breaks its contract would make the pump read or send
    // outside the data; end the session instead.
    if (found <= message_start_ || found > message_start_ + available_) {
      return Failed(CloseReason::kStopped,
                    Status::Error("framer", 0, "message end outside the received bytes"));
    }
    char* end = message_start_ + (found - message_start_);
    const int32_t consumed = static_cast<int32_t>(end - message_start_);

    if (framer_->IsContinuation()) {
      if (!ForwardJoined(message_start_, consumed)) return false;
    } else if (!ForwardInPlace(message_start_, end)) {
      return false;
    }

    if (consumed < available_) {
      pending_ = available_ - consumed;
      write_position_ = message_start_ + available_;
      message_start_ = end;
      received_ = 0;
    } else {
      message_start_ = write_position_ = buffer_.get();
      pending_ = received_ = 0;
    }
    skip_receive = pending_ > 0;
  }
}

void RelayPump::MoveToFront() {
  // Only reached with a partial message that doesn't start at the front: one
  // filling the whole buffer was set aside when the framer saw it.
  std::memmove(buffer_.get(), message_start_, static_cast<size_t>(pending_));
  message_start_ = buffer_.get();
  write_position_ = buffer_.get() + pending_;
}

bool RelayPump::ForwardInPlace(char* start, char* end) {
  // The byte after an early-ended message is the next message's first byte;
  // the sink needs a zero there while it holds the record.
  const char saved = *end;
  *end = '\0';
  const bool sent = Forward(start, static_cast<int32_t>(end - start));
  *end = saved;
  return sent;
}

bool RelayPump::ForwardJoined(const char* data, int32_t length) {
  if (!accumulator_.Append(data, length, nullptr)) {
    return Failed(CloseReason::kStopped, OutOfMemory());
  }
  std::unique_ptr<char[]> joined = accumulator_.Join();
  const bool sent = Forward(joined.get(), accumulator_.total());
  joined.reset();
  accumulator_.Clear();
  return sent;
}

bool RelayPump::FlushTail() {
  if (accumulator_.empty()) {
    return pending_ == 0 || ForwardInPlace(message_start_, message_start_ + pending_);
  }
  return ForwardJoined(message_start_, pending_);
}

bool RelayPump::Forward(const char* data, int32_t length) {
  if (log_sink_ == nullptr) return SendOn(data, length, true);
  LogSinkHandle::Use use = log_sink_->Acquire();
  // The sink's owner has released it: end the session rather than forward
  // bytes that aren't logged.
  if (!use) return Failed(CloseReason::kStopped, Status::Error("log", 0, "log sink released"));
  LogSink* sink = use.sink();
  if (sink == nullptr) return SendOn(data, length, true);

  LogCall call;
  sink->Write(call, data, length);
  const int32_t output_length = sink->OutputLength(call);
  const char* output_data = sink->OutputData(call);
  const bool sent = SendOn(output_data, output_length, sink->MaySendAfterRelease());
  sink->ReleaseOutput(call);
  return sent;
}

bool RelayPump::SendOn(const char* data, int32_t length, bool may_gather) {
  if (shaped_ != nullptr) return SendShaped(data, length);
  if (observer_ != nullptr) ReportChunk(data, length);
  if (may_gather) return SendAll(data, length);
  return SendGathered() && SendNow(data, length);
}

void RelayPump::ReportChunk(const char* data, int32_t length) {
  if (length <= 0) return;
  relayed_ += static_cast<uint64_t>(length);
  if (chunk_observer_ == nullptr) return;
  SessionChunk chunk;
  chunk.session = session_->id();
  chunk.direction = direction_;
  chunk.time = received_at_;
  chunk.data = data;
  chunk.size = static_cast<size_t>(length);
  chunk_observer_->OnChunk(chunk);
}

bool RelayPump::SendShaped(const char* data, int32_t length) {
  if (length <= 0) return true;
  return ActOn(shaped_->Take(data, static_cast<size_t>(length), received_at_.monotonic));
}

bool RelayPump::ActOn(ShapedSender::Outcome outcome) {
  switch (outcome) {
    case ShapedSender::Outcome::kSent:
      return true;
    case ShapedSender::Outcome::kFailed:
      return false;  // SendNow noted why
    case ShapedSender::Outcome::kStopped:
      return Failed(CloseReason::kStopped, Status());
    case ShapedSender::Outcome::kCut:
      return Cut();
    case ShapedSender::Outcome::kStalled:
      return Stall();
  }
  return false;
}

bool RelayPump::DrainHeld() { return shaped_ == nullptr || ActOn(shaped_->Drain()); }

std::optional<bool> RelayPump::ReceiveShaped(char* buffer, size_t room, ssize_t* received) {
  using Clock = ShapedSender::Clock;
  const std::optional<Clock::time_point> stall_at = shaped_->stall_at();
  while (true) {
    const Clock::time_point now = Clock::now();
    if (stall_at && now >= *stall_at) return Stall();
    if (!ActOn(shaped_->SendDue(now))) return false;
    std::optional<Clock::time_point> wake = shaped_->next_due();
    if (stall_at && (!wake || *stall_at < *wake)) wake = stall_at;
    if (!wake) {
      *received = ReceiveWatchingIdle(buffer, room);
      return std::nullopt;
    }
    // Bytes that come meanwhile are taken at once, while the held ones
    // wait for their time.
    Clock::duration wait = *wake - now;
    if (idle_check_ms_ != 0) wait = std::min<Clock::duration>(wait, IdleCheck());
    if (sockets::WaitReadable(source_fd_, wait) != 0) {
      // Readable (or the wait failed): the receive says which.
      *received = io_->Recv(source_fd_, buffer, room);
      if (*received != -EAGAIN) return std::nullopt;
    }
    if (session_->IdleTimedOut()) EndIdle();
  }
}

void RelayPump::ReportPiece(const char* data, size_t size, std::chrono::nanoseconds held) {
  if (observer_ == nullptr) return;
  relayed_ += size;
  if (chunk_observer_ == nullptr) return;
  SessionChunk chunk;
  chunk.session = session_->id();
  chunk.direction = direction_;
  // When it goes on the wire: the pcapng file shows the delay as it was.
  chunk.time = EventTime::Now();
  chunk.data = data;
  chunk.size = size;
  chunk.held = held;
  chunk_observer_->OnChunk(chunk);
}

bool RelayPump::WaitUntil(ShapedSender::Clock::time_point due) {
  while (!session_->cancelled()) {
    const auto left = due - std::chrono::steady_clock::now();
    if (left <= std::chrono::nanoseconds(0)) return true;
    // Wakes at once when the session is reset (Stop); a peer's reset also
    // ends the wait, and the send that follows meets it.
    if (sockets::WaitForHangUp(destination_fd_, left) != 0) return !session_->cancelled();
  }
  return false;
}

bool RelayPump::Stall() {
  if (!stalled_) {
    stalled_ = true;
    ReportConditionActed(SessionConditionActed::Kind::kStall);
    // What came before the stall still goes, each piece at its time.
    if (!DrainHeld()) return false;
  }
  // Nothing more is received: the source's bytes stay in its socket and
  // the connection stays open until the session ends another way.
  while (!stall_over_) {
    if (session_->cancelled()) return Failed(CloseReason::kStopped, Status());
    if (session_->IdleTimedOut()) {
      // Both sides get a FIN; the bytes held back in the source's socket
      // are read (and dropped) on the way to its end.
      EndIdle();
      stall_over_ = true;
      break;
    }
    const int waited = sockets::WaitForHangUp(
        destination_fd_, idle_check_ms_ != 0 ? IdleCheck() : sockets::kNoTimeLimit);
    if (waited != 0 && !session_->cancelled()) {
      const bool to_client = direction_ == Direction::kServerToClient;
      return Failed(to_client ? CloseReason::kResetByClient : CloseReason::kResetByServer,
                    Status::Error("send", ECONNRESET));
    }
  }
  return true;
}

bool RelayPump::Cut() {
  // Bytes after the cut may still be read on the way to the end; the
  // session is already ending.
  if (cut_) return true;
  cut_ = true;
  if (!DrainHeld()) return false;
  const bool reset = shaped_->cut_end() == CutEnd::kReset;
  ReportConditionActed(SessionConditionActed::Kind::kCut);
  // The error number tells a reset cut from a FIN one (the pcapng writer
  // reads it); the reason says it for people.
  const Status why =
      Status::Error("cut", reset ? ECONNRESET : 0,
                    "cut after " + std::to_string(sent_) + " bytes: " + (reset ? "reset" : "fin"));
  if (!reset) {
    // Both directions read end-of-stream and pass a FIN on, this one after
    // the bytes up to the cut.
    session_->EndBoth(CloseReason::kCut, why);
    return true;
  }
  WaitUntilTaken();
  return Failed(CloseReason::kCut, why);
}

void RelayPump::WaitUntilTaken() {
  // A reset drops what the peer has not taken yet: let the bytes sent
  // arrive first (bounded, and a stop ends the wait).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (sockets::UnsentBytes(destination_fd_) > 0 && !session_->cancelled() &&
         std::chrono::steady_clock::now() < deadline) {
    sockets::WaitForHangUp(destination_fd_, std::chrono::milliseconds(1));
  }
}

void RelayPump::ReportConditionActed(SessionConditionActed::Kind kind) {
  if (observer_ == nullptr) return;
  SessionConditionActed acted;
  acted.session = session_->id();
  acted.direction = direction_;
  acted.kind = kind;
  acted.bytes = sent_ + shaped_->held_bytes();
  acted.reset = kind == SessionConditionActed::Kind::kCut && shaped_->cut_end() == CutEnd::kReset;
  acted.time = EventTime::Now();
  observer_->OnConditionActed(acted);
}

bool RelayPump::WaitToPassEnd(std::chrono::steady_clock::time_point arrival) {
  return shaped_ == nullptr || ActOn(shaped_->WaitForEnd(arrival));
}

std::chrono::milliseconds RelayPump::IdleCheck() const {
  return std::chrono::milliseconds(idle_check_ms_);
}

ssize_t RelayPump::ReceiveWatchingIdle(char* buffer, size_t room) {
  if (idle_check_ms_ == 0) return io_->Recv(source_fd_, buffer, room);
  ssize_t n;
  while ((n = io_->Recv(source_fd_, buffer, room)) == -EAGAIN) {
    if (session_->IdleTimedOut()) EndIdle();
  }
  return n;
}

void RelayPump::EndIdle() {
  const SessionIdentity& identity = session_->identity();
  session_->EndBoth(CloseReason::kIdle,
                    Status::Error("idle", 0, "idle " + SpokenDuration(identity.idle_timeout)));
}

bool RelayPump::SendAll(const char* data, int32_t length) {
  if (length > kOutgoingSize - outgoing_size_) {
    if (!SendGathered()) return false;
    if (length > kOutgoingSize) return SendNow(data, length);
  }
  if (outgoing_ == nullptr) {
    outgoing_.reset(new (std::nothrow) char[kOutgoingSize]);
    if (outgoing_ == nullptr) return SendNow(data, length);
  }
  std::memcpy(outgoing_.get() + outgoing_size_, data, static_cast<size_t>(length));
  outgoing_size_ += length;
  return true;
}

bool RelayPump::SendGathered() {
  const int32_t size = std::exchange(outgoing_size_, 0);
  return SendNow(outgoing_.get(), size);
}

bool RelayPump::SendNow(const char* data, int32_t length, bool piece) {
  while (length > 0) {
    const ssize_t n = piece ? io_->SendPiece(destination_fd_, data, static_cast<size_t>(length))
                            : io_->Send(destination_fd_, data, static_cast<size_t>(length));
    if (n <= 0) return SendFailed(n);
    data += n;
    length -= static_cast<int32_t>(n);
    sent_ += static_cast<uint64_t>(n);
  }
  return true;
}

bool RelayPump::SendFailed(ssize_t result) {
  // A peer that reset (or closed with bytes unread) shows as ECONNRESET or
  // EPIPE on the send towards it.
  const bool reset = result == -ECONNRESET || result == -EPIPE;
  const bool to_client = direction_ == Direction::kServerToClient;
  const CloseReason how = !reset      ? CloseReason::kSendError
                          : to_client ? CloseReason::kResetByClient
                                      : CloseReason::kResetByServer;
  return Failed(how, result < 0 ? Status::Error("send", static_cast<int>(result))
                                : Status::Error("send", 0, "nothing sent"));
}

}  // namespace portwick

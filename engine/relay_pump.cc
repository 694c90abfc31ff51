#include "engine/relay_pump.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

namespace portwick {

namespace {

std::unique_ptr<char[]> NewBuffer() {
  return std::make_unique_for_overwrite<char[]>(RelayPump::kBufferSize + 1);
}

SessionObserver* ChunkObserver(SessionObserver* observer) {
  return observer != nullptr && observer->WantsChunks() ? observer : nullptr;
}

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
      buffer_(NewBuffer()),
      message_start_(buffer_.get()),
      write_position_(buffer_.get()),
      log_sink_(std::move(log_sink)) {}

void RelayPump::Run() {
  bool ended_normally = false;
  try {
    ended_normally = Relay();
  } catch (const std::bad_alloc&) {
    ended_normally = false;
    failure_ = CloseReason::kStopped;
    failure_error_ = OutOfMemory();
  }
  if (observer_ != nullptr) session_->AddRelayed(direction_, relayed_);
  if (ended_normally) {
    session_->EndSending(destination_fd_);
    if (observer_ != nullptr) {
      observer_->OnHalfClosed(SessionHalfClosed{session_->id(), direction_, EventTime::Now()});
    }
  } else {
    session_->Fail(failure_, failure_error_);
  }
  session_.reset();
}

bool RelayPump::Failed(CloseReason how, Status error) {
  failure_ = how;
  failure_error_ = std::move(error);
  return false;
}

bool RelayPump::Relay() {
  bool skip_receive = false;
  while (true) {
    if (!skip_receive) {
      if (write_position_ == buffer_.get() + kBufferSize) MoveToFront();
      const size_t room = static_cast<size_t>(buffer_.get() + kBufferSize - write_position_);
      const ssize_t n = io_->Recv(source_fd_, write_position_, room);
      if (n == 0) {
        // After a reset from outside a receive may read as end-of-stream.
        if (session_->cancelled()) return Failed(CloseReason::kStopped, Status());
        return FlushTail();
      }
      if (n < 0) {
        return Failed(direction_ == Direction::kClientToServer ? CloseReason::kResetByClient
                                                               : CloseReason::kResetByServer,
                      Status::Error("recv", static_cast<int>(n)));
      }
      if (chunk_observer_ != nullptr) received_at_ = EventTime::Now();
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
  if (log_sink_ == nullptr) return SendOn(data, length);
  LogSinkHandle::Use use = log_sink_->Acquire();
  // The sink's owner has released it: end the session rather than forward
  // bytes that aren't logged.
  if (!use) return Failed(CloseReason::kStopped, Status::Error("log", 0, "log sink released"));
  LogSink* sink = use.sink();
  if (sink == nullptr) return SendOn(data, length);

  LogCall call;
  sink->Write(call, data, length);
  const int32_t output_length = sink->OutputLength(call);
  const char* output_data = sink->OutputData(call);
  const bool sent = SendOn(output_data, output_length);
  sink->ReleaseOutput(call);
  return sent;
}

bool RelayPump::SendOn(const char* data, int32_t length) {
  if (observer_ != nullptr) ReportChunk(data, length);
  return SendAll(data, length);
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

bool RelayPump::SendAll(const char* data, int32_t length) {
  while (length > 0) {
    const ssize_t n = io_->Send(destination_fd_, data, static_cast<size_t>(length));
    if (n <= 0) {
      // A peer that reset (or closed with bytes unread) shows as ECONNRESET
      // or EPIPE on the send towards it.
      const bool reset = n == -ECONNRESET || n == -EPIPE;
      const bool to_client = direction_ == Direction::kServerToClient;
      const CloseReason how = !reset      ? CloseReason::kSendError
                              : to_client ? CloseReason::kResetByClient
                                          : CloseReason::kResetByServer;
      return Failed(how, n < 0 ? Status::Error("send", static_cast<int>(n))
                               : Status::Error("send", 0, "nothing sent"));
    }
    data += n;
    length -= static_cast<int32_t>(n);
  }
  return true;
}

}  // namespace portwick

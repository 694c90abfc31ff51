#include "engine/linux/splice_relay.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

#include "base/posix/socket_descriptor.h"
#include "engine/socket_ops.h"

namespace portwick {

namespace {

// Bytes per receive while copying (no pipe to be had, or splice refused
// towards the destination).
constexpr size_t kCopySize = 16 * 1024;

// What splice returns where the kernel or a sandbox doesn't allow it for
// these descriptors.
bool IsRefusal(ssize_t result) {
  return result == -EINVAL || result == -ENOSYS || result == -EOPNOTSUPP;
}

}  // namespace

SpliceRelay::SpliceRelay(SocketIo* io, PipePool* pool, SocketHandle source_fd,
                         SocketHandle destination_fd, LogSinkHandle* log_sink,
                         std::function<void()> on_bytes)
    : io_(io),
      pool_(pool),
      source_fd_(source_fd),
      destination_fd_(destination_fd),
      log_sink_(log_sink),
      logging_(log_sink != nullptr && log_sink->TakesPipedRecords()),
      on_bytes_(std::move(on_bytes)) {}

SpliceRelay::~SpliceRelay() { GiveBackPipe(); }

void SpliceRelay::GiveBackPipe() {
  if (!pipe_.valid()) return;
  // Bytes left behind by a failed send must not reach another session.
  if (in_pipe_ == 0) {
    pool_->Release(std::move(pipe_));
  } else {
    pipe_.Close();
  }
  in_pipe_ = 0;
  // Empty between chunks: WritePiped took every byte, or the pipe was closed.
  if (log_pipe_.valid()) pool_->Release(std::move(log_pipe_));
}

SpliceRelay::Result SpliceRelay::Fail(Result result, ssize_t error) {
  error_ = static_cast<int>(error);
  return result;
}

SpliceRelay::Result SpliceRelay::Relay() {
  // splice can't say MSG_NOSIGNAL: a send towards a peer that has gone
  // raises SIGPIPE, which must fail the send instead of ending the process.
  sockets::BlockSigpipe();
  if (!timeout_set_) {
    sockets::SetReceiveTimeout(source_fd_, kIdleMilliseconds);
    timeout_set_ = true;
  }
  while (true) {
    // A chunk left in the pipe when the conditions changed, for a relay
    // that goes on splicing.
    if (in_pipe_ > 0) {
      if (const std::optional<Result> end = Pass()) return *end;
    }
    if (!pipe_.valid()) pipe_ = pool_->Acquire(Descriptor(std::max(source_fd_, destination_fd_)));
    // A logged chunk copied here would be queued, and could then be
    // overtaken by the next one logged from a pipe.
    if (logging_ && !pipe_.valid()) return Result::kLeaveForCopying;
    if (!pipe_.valid()) {
      if (const std::optional<Result> end = CopyOnce()) return *end;
      continue;
    }
    const ssize_t n = io_->Splice(Descriptor(source_fd_), pipe_.write_fd(),
                                  static_cast<size_t>(pool_->pipe_size()));
    if (n == 0) return Result::kEnded;
    if (n == -EAGAIN) {
      GiveBackPipe();
      return Result::kIdle;
    }
    if (IsRefusal(n)) {
      GiveBackPipe();
      sockets::SetReceiveTimeout(source_fd_, 0);
      return Result::kRefused;
    }
    if (n < 0) return Fail(Result::kReceiveFailed, n);
    in_pipe_ = static_cast<size_t>(n);
    if (on_bytes_) on_bytes_();
    // As the copying relay: once the sink is released, nothing more is sent.
    if (log_sink_ != nullptr && log_sink_->IsDetached()) return Result::kDetached;
    if (live_ != nullptr && live_->generation() != seen_) return Result::kConditionsChanged;
    if (const std::optional<Result> end = Pass()) return *end;
  }
}

ssize_t SpliceRelay::TakeFromPipe(char* buffer, size_t room) {
  if (in_pipe_ == 0) return 0;
  ssize_t n;
  do {
    n = ::read(pipe_.read_fd(), buffer, std::min(in_pipe_, room));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -errno;
  if (n == 0) return -EPIPE;  // the pipe holds less than it was given
  in_pipe_ -= static_cast<size_t>(n);
  return n;
}

std::optional<SpliceRelay::Result> SpliceRelay::Pass() {
  while (in_pipe_ > 0) {
    size_t length = in_pipe_;
    if (logging_) {
      if (const std::optional<Result> end = LogFront(&length)) return end;
    }
    if (const std::optional<Result> end = Drain(length)) return end;
  }
  return std::nullopt;
}

std::optional<SpliceRelay::Result> SpliceRelay::LogFront(size_t* logged) {
  // The use keeps the sink from being released while the record is written.
  const LogSinkHandle::Use use = log_sink_->Acquire();
  if (!use) return Result::kDetached;
  if (!log_pipe_.valid()) {
    log_pipe_ = pool_->Acquire(Descriptor(std::max(source_fd_, destination_fd_)));
    if (!log_pipe_.valid()) return Result::kLeaveForCopying;
  }
  // The log pipe is empty, as large as the pipe: the whole chunk fits, but
  // a smaller one (the system refused to enlarge it) takes it in parts.
  ssize_t teed;
  do {
    teed = ::tee(pipe_.read_fd(), log_pipe_.write_fd(), in_pipe_, SPLICE_F_NONBLOCK);
  } while (teed < 0 && errno == EINTR);
  if (teed <= 0) return Result::kLeaveForCopying;
  *logged = static_cast<size_t>(teed);
  if (!use.sink()->WritePiped(log_pipe_.read_fd(), static_cast<int32_t>(teed))) {
    log_pipe_.Close();  // it may still hold bytes of the lost record
  }
  return std::nullopt;
}

std::optional<SpliceRelay::Result> SpliceRelay::Drain(size_t length) {
  while (length > 0) {
    const ssize_t n = io_->Splice(pipe_.read_fd(), Descriptor(destination_fd_), length);
    if (n > 0) {
      in_pipe_ -= static_cast<size_t>(n);
      length -= static_cast<size_t>(n);
      bytes_ += static_cast<uint64_t>(n);
      continue;
    }
    if (IsRefusal(n)) {
      if (const std::optional<Result> end = DrainByCopy(length)) return end;
      // The rest of a logged chunk is not logged yet: copying takes it.
      if (logging_) return Result::kLeaveForCopying;
      GiveBackPipe();
      sockets::SetReceiveTimeout(source_fd_, 0);
      return Result::kRefused;
    }
    if (n == -EPIPE) sockets::DiscardPendingSigpipe();
    return Fail(Result::kSendFailed, n);
  }
  return std::nullopt;
}

std::optional<SpliceRelay::Result> SpliceRelay::CopyOnce() {
  if (buffer_ == nullptr) buffer_ = std::make_unique_for_overwrite<char[]>(kCopySize);
  const ssize_t n = io_->Recv(source_fd_, buffer_.get(), kCopySize);
  if (n == 0) return Result::kEnded;
  if (n == -EAGAIN) {
    buffer_.reset();
    return Result::kIdle;
  }
  if (n < 0) return Fail(Result::kReceiveFailed, n);
  if (on_bytes_) on_bytes_();
  if (log_sink_ != nullptr && log_sink_->IsDetached()) return Result::kDetached;
  return SendCopy(buffer_.get(), static_cast<size_t>(n));
}

std::optional<SpliceRelay::Result> SpliceRelay::DrainByCopy(size_t length) {
  if (buffer_ == nullptr) buffer_ = std::make_unique_for_overwrite<char[]>(kCopySize);
  while (length > 0) {
    const ssize_t n = ::read(pipe_.read_fd(), buffer_.get(), std::min(length, kCopySize));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(Result::kSendFailed, n < 0 ? -errno : 0);
    in_pipe_ -= static_cast<size_t>(n);
    length -= static_cast<size_t>(n);
    if (const std::optional<Result> end = SendCopy(buffer_.get(), static_cast<size_t>(n))) {
      return end;
    }
  }
  return std::nullopt;
}

std::optional<SpliceRelay::Result> SpliceRelay::SendCopy(const char* data, size_t length) {
  while (length > 0) {
    const ssize_t n = io_->Send(destination_fd_, data, length);
    if (n <= 0) return Fail(Result::kSendFailed, n);
    data += n;
    length -= static_cast<size_t>(n);
    bytes_ += static_cast<uint64_t>(n);
  }
  return std::nullopt;
}

}  // namespace portwick

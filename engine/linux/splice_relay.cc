#include "engine/linux/splice_relay.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

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
                         SocketHandle destination_fd, const LogSinkHandle* log_sink)
    : io_(io),
      pool_(pool),
      source_fd_(source_fd),
      destination_fd_(destination_fd),
      log_sink_(log_sink) {}

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
      if (const std::optional<Result> end = Drain()) return *end;
    }
    if (!pipe_.valid()) pipe_ = pool_->Acquire(Descriptor(std::max(source_fd_, destination_fd_)));
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
    // As the copying relay: once the sink is released, nothing more is sent.
    if (log_sink_ != nullptr && log_sink_->IsDetached()) return Result::kDetached;
    if (live_ != nullptr && live_->generation() != seen_) return Result::kConditionsChanged;
    if (const std::optional<Result> end = Drain()) return *end;
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

std::optional<SpliceRelay::Result> SpliceRelay::Drain() {
  while (in_pipe_ > 0) {
    const ssize_t n = io_->Splice(pipe_.read_fd(), Descriptor(destination_fd_), in_pipe_);
    if (n > 0) {
      in_pipe_ -= static_cast<size_t>(n);
      bytes_ += static_cast<uint64_t>(n);
      continue;
    }
    if (IsRefusal(n)) {
      if (const std::optional<Result> end = DrainByCopy()) return end;
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
  if (log_sink_ != nullptr && log_sink_->IsDetached()) return Result::kDetached;
  return SendCopy(buffer_.get(), static_cast<size_t>(n));
}

std::optional<SpliceRelay::Result> SpliceRelay::DrainByCopy() {
  if (buffer_ == nullptr) buffer_ = std::make_unique_for_overwrite<char[]>(kCopySize);
  while (in_pipe_ > 0) {
    const ssize_t n = ::read(pipe_.read_fd(), buffer_.get(), std::min(in_pipe_, kCopySize));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(Result::kSendFailed, n < 0 ? -errno : 0);
    in_pipe_ -= static_cast<size_t>(n);
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

#ifndef PORTWICK_ENGINE_LINUX_SPLICE_RELAY_H_
#define PORTWICK_ENGINE_LINUX_SPLICE_RELAY_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "engine/conditions/live_conditions.h"
#include "engine/linux/pipe_pool.h"
#include "engine/log_sink_handle.h"
#include "engine/socket_io.h"

namespace portwick {

// Relays one direction from socket to socket through a pipe, so the bytes
// never pass through user space: for a direction whose bytes nobody needs
// (no log sink that logs, no observer that wants them, the pass-through
// framer). Blocks in the kernel as the copying relay does, in order and
// without losing a byte.
//
// The pipe is borrowed from a pool while bytes flow. After kIdleMilliseconds
// without bytes Relay gives it back and returns kIdle; the caller waits until
// the source is readable (or parks the direction) and calls Relay again.
// When no pipe can be had (descriptors run short), bytes are copied through a
// small buffer until one can.
//
// With a log sink handle whose sink takes piped records (the file log alone,
// LogSink::TakesPipedRecords) every chunk is logged before it is sent: teed
// into a second pipe of the pool (the log pipe) and written from there to
// the log by WritePiped, on this thread, one chunk per record. Where that
// can't be done (no second pipe, tee refused) Relay returns kLeaveForCopying
// with the chunk untouched in its pipe, and the caller logs it by copying
// from then on, so a direction's records never overtake one another.
//
// Made and used by one relay thread at a time (a parked direction may go on
// on another thread). Sets a receive time-out on the source socket, which
// only this direction reads; Refused clears it again.
class SpliceRelay {
 public:
  static constexpr int kIdleMilliseconds = 10;

  enum class Result {
    kEnded,          // the source ended its stream: pass the half-close on
    kIdle,           // nothing came for a while; the pipe is back in the pool
    kReceiveFailed,  // receiving failed; error() has the -errno
    kSendFailed,     // sending failed; error() has the -errno
    kDetached,       // the log sink handle was detached: end the session
    kRefused,        // splice is refused here: relay by copying from now on
    // The conditions watched have changed; the chunk that came since is in
    // the pipe, nothing of it sent yet (TakeFromPipe).
    kConditionsChanged,
    // Logging from the pipe can't be done here: copy and log from now on,
    // starting with the chunk left in the pipe (TakeFromPipe).
    kLeaveForCopying,
  };

  // `io`, `pool` and `log_sink` (may be null) must outlive the relay.
  // `on_bytes` (may be empty) is called, on the relaying thread, each time
  // bytes come from the source (a session's idle clock).
  SpliceRelay(SocketIo* io, PipePool* pool, SocketHandle source_fd, SocketHandle destination_fd,
              LogSinkHandle* log_sink, std::function<void()> on_bytes = {});
  SpliceRelay(const SpliceRelay&) = delete;
  SpliceRelay& operator=(const SpliceRelay&) = delete;
  // Gives the pipes back when they are empty, else closes them.
  ~SpliceRelay();

  // Relays until one of the results above. After kRefused every byte taken
  // from the source has been sent on. May throw std::bad_alloc (copying).
  Result Relay();

  // From now on, Relay ends with kConditionsChanged once it has spliced a
  // chunk into its pipe while `live`'s generation is not `seen` (null:
  // watches nothing); chunks copied while no pipe can be had pass before it
  // looks. `live` must outlive the relay.
  void WatchConditions(const LiveConditions* live, uint64_t seen) {
    live_ = live;
    seen_ = seen;
  }

  // Reads up to `room` of the bytes left in the pipe into `buffer`, for a
  // caller that goes on by copying: their number, 0 when none are left, a
  // -errno when the pipe can't be read.
  ssize_t TakeFromPipe(char* buffer, size_t room);

  int error() const { return error_; }
  // Bytes sent on so far.
  uint64_t bytes() const { return bytes_; }

 private:
  // Each returns how the direction ends, or nothing when it goes on.
  // Logs (when logging) and sends the bytes in the pipe.
  std::optional<Result> Pass();
  // Tees the front of the pipe into the log pipe and logs it; sets
  // `*logged` to the bytes logged (or lost, counted by the sink).
  std::optional<Result> LogFront(size_t* logged);
  // Moves `length` bytes of the pipe to the destination.
  std::optional<Result> Drain(size_t length);
  // Copies what one receive brings; used while no pipe can be had.
  std::optional<Result> CopyOnce();
  // Sends `length` bytes of the pipe by reading them out (splice refused
  // towards the destination).
  std::optional<Result> DrainByCopy(size_t length);
  std::optional<Result> SendCopy(const char* data, size_t length);
  Result Fail(Result result, ssize_t error);
  void GiveBackPipe();

  SocketIo* const io_;
  PipePool* const pool_;
  const SocketHandle source_fd_;
  const SocketHandle destination_fd_;
  LogSinkHandle* const log_sink_;
  const bool logging_;  // every chunk goes through the log pipe to the sink
  const std::function<void()> on_bytes_;
  bool timeout_set_ = false;
  Pipe pipe_;
  Pipe log_pipe_;  // while logging; empty between chunks
  size_t in_pipe_ = 0;
  std::unique_ptr<char[]> buffer_;  // only while copying
  uint64_t bytes_ = 0;
  int error_ = 0;
  const LiveConditions* live_ = nullptr;
  uint64_t seen_ = 0;
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_LINUX_SPLICE_RELAY_H_

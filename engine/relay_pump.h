#ifndef PORTWICK_ENGINE_RELAY_PUMP_H_
#define PORTWICK_ENGINE_RELAY_PUMP_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "engine/byte_accumulator.h"
#include "engine/conditions/live_conditions.h"
#include "engine/conditions/shaped_sender.h"
#include "engine/log_sink_handle.h"
#include "engine/message_framer.h"
#include "engine/session.h"
#include "engine/session_observer.h"
#include "engine/socket_io.h"

namespace portwick {

class SpliceRelay;

// Destroys a SpliceRelay where its type is complete (the file that splices).
struct SpliceRelayDeleter {
  void operator()(SpliceRelay* relay) const;
};

// Moves the bytes of one direction of a session: receives from the source
// socket, cuts the bytes into messages with its framer, hands each message to
// the log sink and sends what the sink passes on to the destination socket.
//
// End of the stream (the source peer shut down its sending side) is passed
// on as a half-close to the destination, while the other direction goes on;
// an end of stream that a reset left behind (see Session::EndWasReset) resets
// the session instead, on either path.
// A receive error, a failed send, a detached log sink or memory exhaustion
// resets the whole session, which wakes the other pump; the session keeps
// the first such failure as the way it ended.
//
// Records are sent as the sink passes them on. While the source already has
// more bytes waiting, and the sink allows it (LogSink::MaySendAfterRelease),
// their sends are gathered (up to kOutgoingSize) and made as one: a send runs
// the whole TCP path, on loopback the receiver's too, so one per 10 KiB
// record made the relay thread the bottleneck of a logged transfer. Nothing
// waits in the gathering: what is gathered is sent before every receive that
// would wait, before the end is passed on and before a receive error resets
// the session.
//
// A direction with traffic conditions (SessionIdentity::conditions) is
// copied and sent through a ShapedSender, which holds each record until its
// pieces are due while the pump goes on receiving: it waits for bytes no
// longer than the next piece's time, sends what has come due, and stops
// receiving only while the sender holds its most (back-pressure). Waits end
// at once when the session is reset. A cut ends the session after its bytes
// with a FIN both ways or a reset, a stall stops receiving until the
// session ends (what came before it still goes), the end of stream goes
// after every held byte and its close-delay, and a receive error resets
// the session after the held bytes. Its chunks are reported as they are
// sent, with the time they were held; a cut and the start of a stall are
// reported too (SessionConditionActed). With an idle time-out a copied
// direction's receives wake now and then to see whether the session has
// been idle; a spliced one notes its bytes, looks each time it goes idle,
// and parks until the session's idle deadline at the latest.
//
// The forward's conditions may change while the session runs
// (SessionIdentity::live_conditions): each chunk received first compares the
// holder's generation with the one it follows (one relaxed load), and on a
// change the direction draws again and follows the new conditions from that
// chunk on (FollowConditions, relay_pump_conditions.cc). A spliced direction
// that gains conditions goes on copying, the bytes already in its pipe
// first; one that loses them all keeps copying, unconditioned.
//
// With an observer on the session, every record sent on is reported as a
// SessionChunk (after the sink, before the send), and the half-close as a
// SessionHalfClosed. Without one the relay pays a null check per record.
//
// When nobody needs the bytes (the pass-through framer, a log sink handle
// that needs no bytes or none, no observer that wants chunks), the direction
// is relayed with splice through a pipe (SpliceRelay) instead, falling back
// to copying where splice is refused. So is a direction whose only reader is
// a sink that takes its records from a pipe (LogSink::TakesPipedRecords, the
// file log alone): each chunk is teed into a second pipe and logged from
// there before it is sent on. Such a direction can also park: after
// a short while without bytes RunParking hands it to the IdleParker, so an
// idle session keeps no thread, and it goes on on a new thread once its
// source is readable. Splicing and parking are built only where the platform
// offers them (engine/linux/relay_pump_splice.cc, see engine/zero_copy.h);
// elsewhere every direction copies (engine/relay_pump_copy.cc).
//
// Where the event relay runs (event_relay.h), such a direction starts there
// instead and gets a pump only when it turns busy or gains conditions
// (TakeOver: what it sent before, and the bytes it had taken and not sent).
//
// A pump is built on one thread and then owned by its relay thread (one at a
// time), which runs it and destroys it. Nothing of it is shared but the
// session and the log sink handle. A pump destroyed after it started but
// before its direction ended (no thread to go on with) resets the session.
class RelayPump {
 public:
  // Data bytes per buffer; each buffer has one more byte for a zero.
  static constexpr int32_t kBufferSize = 10384;
  // The most bytes gathered for one send.
  static constexpr int32_t kOutgoingSize = 64 * 1024;

  // Relays `direction` of `session`: client to destination socket, or the
  // other way. `log_sink` may be null (bytes pass unlogged). `io` must
  // outlive the pump. May throw std::bad_alloc.
  RelayPump(std::shared_ptr<Session> session, Direction direction,
            std::unique_ptr<MessageFramer> framer, std::shared_ptr<LogSinkHandle> log_sink,
            SocketIo* io = &SocketIo::Default());
  RelayPump(const RelayPump&) = delete;
  RelayPump& operator=(const RelayPump&) = delete;
  ~RelayPump();

  // Relays until the direction ends, then lets go of the session (the last
  // pump out closes both sockets). Waits on this thread while idle.
  void Run();

  // As Run, but an idle spliced direction is parked instead of waiting here:
  // the call then returns, and the pump goes on on another thread later.
  static void RunParking(std::unique_ptr<RelayPump> pump);

  // For a direction the event relay hands over: it has relayed since
  // `relaying_since` (a stall counts from then) and sent `sent_before` bytes
  // (a cut counts them), and `carried` holds `size` bytes taken from the
  // source and not sent yet, which go first; a pump that carries bytes
  // copies. Before Run.
  void TakeOver(std::chrono::steady_clock::time_point relaying_since, uint64_t sent_before,
                std::unique_ptr<char[]> carried = nullptr, int32_t size = 0);

  // Whether this direction relays with splice (decided at construction).
  bool splicing() const { return splice_ != nullptr; }

 private:
  enum class Progress { kDone, kIdle };

  // Relays until the direction ends (then reports its end) or, with
  // `may_park`, until a spliced direction is idle.
  Progress Step(bool may_park);
  // Makes splice_ for a direction whose bytes nobody needs, where the
  // platform splices; else leaves it null.
  void StartSplicing();
  // The spliced relay; nothing when it is refused and copying takes over.
  std::optional<Progress> RelaySpliced(bool may_park, bool* ended_normally);
  // Counts what splice_ moved and gives its pipe back; splice_ is null after.
  void EndSplicing();
  // Reports the end of the direction and lets go of the session.
  void Finish(bool ended_normally);
  bool SendFailed(ssize_t result);
  // The relay loop. True when the source ended its stream normally, false
  // when the session must be reset.
  bool Relay();
  // Moves a partial message that has reached the end of the buffer to the
  // buffer's front, so the next receive has room.
  void MoveToFront();
  // Forwards [start, end) from the receive buffer, with a zero byte after it
  // for as long as the sink holds the record.
  bool ForwardInPlace(char* start, char* end);
  // Joins the set-aside pieces with `length` more bytes at `data` and
  // forwards them as one record.
  bool ForwardJoined(const char* data, int32_t length);
  // Forwards bytes the framer never completed when the stream ends, so that
  // nothing received is lost.
  bool FlushTail();
  // Hands one record (followed by a zero byte) to the sink and sends what it
  // passes on.
  bool Forward(const char* data, int32_t length);
  // Reports the bytes to the observer (if any) and sends them.
  // `may_gather`: the sink lets the bytes be sent after its ReleaseOutput.
  bool SendOn(const char* data, int32_t length, bool may_gather);
  // Gathers the bytes for sending (or sends them at once when they don't
  // fit); false when a send failed.
  bool SendAll(const char* data, int32_t length);
  // `piece`: a piece a condition made, kept in segments of its own.
  bool SendNow(const char* data, int32_t length, bool piece = false);
  // Sends what is gathered.
  bool SendGathered();

  void ReportChunk(const char* data, int32_t length);

  // relay_pump_conditions.cc: conditions that change while the session runs.
  bool ConditionsChanged() const {
    return live_conditions_ != nullptr && live_conditions_->generation() != seen_generation_;
  }
  // Draws this direction's conditions again from the forward's current ones
  // and follows them from the next chunk on; what was gathered goes first.
  // False when that send failed.
  bool FollowConditions();
  // Follows `conditions`: shaped_ made for them, or none when they are empty.
  void StartShaping(const DirectionConditions& conditions);
  // The bytes a direction that left splicing still has in its pipe, taken
  // as a receive would; -EAGAIN once they are all taken (splicing has ended
  // then). Only while splice_ is set.
  ssize_t ReceiveFromPipe(char* buffer, size_t room);
  // The carried bytes, taken as a receive would; -EAGAIN once they are all
  // taken (and let go of).
  ssize_t ReceiveCarried(char* buffer, size_t room);
  // What splice_ has sent on so far (0 without it).
  uint64_t SplicedBytes() const;

  // The conditioned path: hands the bytes to shaped_ and acts on what it
  // says.
  bool SendShaped(const char* data, int32_t length);
  // What the relay loop does after the sender's `outcome`: true to go on.
  bool ActOn(ShapedSender::Outcome outcome);
  // Sends every byte shaped_ holds, each at its time (true without it).
  bool DrainHeld();
  // The conditioned path's receive: sends what comes due while it waits
  // for bytes. Nothing when `*received` has the receive's result; else the
  // direction ended meanwhile (a stall, a failed send, a stop) and the
  // value is the relay loop's.
  std::optional<bool> ReceiveShaped(char* buffer, size_t room, ssize_t* received);
  void ReportPiece(const char* data, size_t size, std::chrono::nanoseconds held);
  void ReportConditionActed(SessionConditionActed::Kind kind);
  // Waits until `due`; false when the session was reset meanwhile.
  bool WaitUntil(ShapedSender::Clock::time_point due);
  // A stalled direction: sends what came before, then receives nothing more
  // until the session ends.
  bool Stall();
  // Ends the session after the cut's bytes, as the condition says.
  bool Cut();
  // Before a reset: waits (at most a second) until the peer has taken the
  // bytes sent to it.
  void WaitUntilTaken();
  // Waits until an end of stream that came at `arrival` may be passed on
  // (after the held bytes and the close-delay).
  bool WaitToPassEnd(std::chrono::steady_clock::time_point arrival);
  // Waits until the source is readable, or until the session's idle
  // deadline when it has one.
  void WaitReadableOrIdle();
  std::chrono::milliseconds IdleCheck() const;
  // A receive that gives up now and then to see whether the session has
  // been idle for its time-out (and then ends it).
  ssize_t ReceiveWatchingIdle(char* buffer, size_t room);
  // Ends an idle session: both directions pass a FIN on.
  void EndIdle();
  // True when the source's end of stream is to be passed on as a
  // half-close; false (with the failure noted) after a reset.
  bool EndedNormally();
  // How the session ends when the source fails.
  CloseReason ResetBySource() const;
  // Notes why the direction failed; always false.
  bool Failed(CloseReason how, Status error);

  std::shared_ptr<Session> session_;
  const Direction direction_;
  const SocketHandle source_fd_;
  const SocketHandle destination_fd_;
  SessionObserver* const observer_;        // the session's; may be null
  SessionObserver* const chunk_observer_;  // observer_ when it wants chunks
  uint64_t relayed_ = 0;                   // bytes reported, with an observer
  EventTime received_at_;                  // of the last receive, with chunk_observer_
  CloseReason failure_ = CloseReason::kStopped;
  Status failure_error_;
  std::unique_ptr<MessageFramer> framer_;
  SocketIo* const io_;

  int32_t received_ = 0;            // bytes of the last receive; 0 when working on old bytes
  int32_t pending_ = 0;             // bytes between message start and write position
  int32_t available_ = 0;           // pending + received
  std::unique_ptr<char[]> buffer_;  // kBufferSize + 1 bytes, once copying
  char* message_start_ = nullptr;   // first byte not yet forwarded
  char* write_position_ = nullptr;  // where the next receive stores its bytes
  ByteAccumulator accumulator_;
  std::unique_ptr<char[]> outgoing_;  // kOutgoingSize bytes, while gathering
  int32_t outgoing_size_ = 0;
  std::shared_ptr<LogSinkHandle> log_sink_;
  std::unique_ptr<SpliceRelay, SpliceRelayDeleter> splice_;  // while splicing
  std::unique_ptr<ShapedSender> shaped_;                     // with conditions on this direction
  std::unique_ptr<char[]> carried_;                          // TakeOver's bytes, until taken
  int32_t carried_size_ = 0;
  int32_t carried_taken_ = 0;
  int idle_check_ms_ = 0;    // with an idle time-out: how often to look
  bool cut_ = false;         // the cut was reached
  bool stalled_ = false;     // the stall has begun (and was reported)
  bool stall_over_ = false;  // ... and the session ended idle since
  bool started_ = false;
  bool finished_ = false;

  // Conditions that change while the session runs (relay_pump_conditions.cc).
  const LiveConditions* const live_conditions_;          // the session's; may be null
  uint64_t seen_generation_;                             // of live_conditions_, followed now
  DirectionConditions following_;                        // what shaped_ was made for
  std::chrono::steady_clock::time_point shaping_start_;  // a stall counts from it
  uint64_t sent_ = 0;                                    // bytes sent on in all (a cut counts them)
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_RELAY_PUMP_H_

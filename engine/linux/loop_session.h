#ifndef PORTWICK_ENGINE_LINUX_LOOP_SESSION_H_
#define PORTWICK_ENGINE_LINUX_LOOP_SESSION_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "base/endpoint.h"
#include "engine/session.h"
#include "engine/session_start.h"

namespace portwick {

// One session on the event loop (EventLoop): completes its non-blocking
// connect when it has one, then relays each direction whose bytes nobody
// needs with non-blocking receives and sends through the loop's scratch
// buffer. A send the destination can't take whole keeps the rest in a
// buffer of the direction's own (its only memory while it waits) and stops
// reading the source until the destination is writable again, so bytes stay
// in order and nothing is lost. Both sockets stay blocking for the threads
// (MSG_DONTWAIT on every call here), except an outgoing socket made
// non-blocking for its connect, which is made blocking before a thread gets
// it.
//
// A direction leaves the loop for a blocking RelayPump on a thread of its
// own (RelayPump::TakeOver) when its bytes are needed from the start (a log
// sink, an observer of chunks, traffic conditions), when it gains traffic
// conditions (with the chunk that saw them), or when it is busy with bulk:
// kBusyReads receives in a row that fill the scratch buffer, where the
// thread's splice moves the bytes with fewer calls per byte. Ends, events
// and failures follow RelayPump's rules: a half-close is reported and passed
// on, an end of stream a reset left behind resets the session, a failure
// resets the session with its reason, and the bytes each direction moved
// are counted for SessionClosed.
//
// Made on any thread; after EventLoop::Adopt only the loop thread touches
// it. The loop destroys it once done(); it takes its sockets off the loop's
// epoll set then, unless the session goes with it.
class LoopSession {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kBusyReads = 4;

  // A session whose non-blocking outgoing socket is connecting to `address`
  // until `deadline` (none: the system's time).
  LoopSession(std::shared_ptr<Session> session, RelayNeeds needs, SessionDestination destination,
              const Endpoint& address, std::optional<Clock::time_point> deadline);
  // A connected session.
  LoopSession(std::shared_ptr<Session> session, RelayNeeds needs);
  LoopSession(const LoopSession&) = delete;
  LoopSession& operator=(const LoopSession&) = delete;
  ~LoopSession();

  // What an epoll entry of this session points to.
  struct Side {
    LoopSession* owner;
    int index;  // 0: the client's socket, 1: the destination's
  };

  // Loop thread from here on. Watches the sockets with `epoll_fd`;
  // `scratch` (kScratchSize bytes) is the loop's, borrowed during each call.
  static constexpr size_t kScratchSize = 64 * 1024;
  void Start(int epoll_fd, char* scratch);
  // `events` (epoll's) came for the socket of `side`.
  void OnEvent(int side, uint32_t events);
  // The time Deadline() said has come (or passed): a connect that ran out
  // of time fails, an idle session ends.
  void OnTimer(Clock::time_point now);
  // When OnTimer is due next; nothing when never.
  std::optional<Clock::time_point> Deadline() const;
  bool done() const { return done_; }

  // The loop's timer entry for this session (the loop's to keep).
  std::optional<std::multimap<Clock::time_point, LoopSession*>::iterator> timer;

 private:
  enum class FlowState { kWaiting, kOnLoop, kOnThread, kEnded };
  struct Flow {
    Flow(Direction relayed, int source, int destination)
        : direction(relayed), from(source), to(destination) {}
    const Direction direction;
    const int from;  // side indices
    const int to;
    FlowState state = FlowState::kWaiting;
    std::unique_ptr<char[]> backlog;  // what the destination has not taken yet
    int32_t backlog_size = 0;
    int32_t backlog_sent = 0;
    uint64_t sent = 0;  // bytes sent on by the loop
    int full_reads = 0;
    uint64_t seen_generation = 0;  // of the live conditions
  };

  SocketHandle fd(int side) const;
  // After the connecting socket reported `events`.
  void FinishConnect(uint32_t events);
  // Each direction to the loop or to a thread, as its bytes are needed.
  void BeginRelaying();
  // Moves bytes until the source has none, the destination takes no more,
  // or the direction ends or leaves. `settled`: called for a readiness that
  // reported no end or error, so a short receive took all there was.
  void Relay(Flow& flow, bool settled);
  // Sends the backlog; false while some is left (or the send failed).
  bool Flush(Flow& flow);
  // Keeps what `send` did not take of `data` (`size` bytes).
  void Hold(Flow& flow, const char* data, int32_t size);
  void EndOfStream(Flow& flow);
  // Hands the direction to a blocking pump, with `carried` bytes (of
  // `size`) not yet sent.
  void HandOff(Flow& flow, const char* carried, int32_t size);
  // True (the direction's draw noted) when the conditions changed so that
  // this direction now has some.
  bool GainedConditions(Flow& flow);
  void SendFailed(Flow& flow, ssize_t result);
  // Notes the failure, resets the session and ends every direction here.
  void Fail(CloseReason how, const Status& error);
  void EndFlow(Flow& flow, FlowState state);
  // Brings the epoll entries in line with what the directions wait for.
  void Watch();
  uint32_t Interest(int side) const;
  void CheckDone();

  std::shared_ptr<Session> session_;
  const RelayNeeds needs_;
  const SessionDestination destination_;
  const Endpoint address_;
  const std::optional<Clock::time_point> connect_deadline_;
  bool connecting_;
  bool blocking_destination_;         // false while connecting and until a thread needs it
  Clock::time_point relaying_since_;  // connected: when a blocking pump would have started
  uint32_t client_events_ = 0;        // what the client's socket reported while connecting
  // The destination connected and then reset before its connect was seen
  // done; reading its error cleared it, so its end must be told from a FIN.
  bool reset_at_connect_ = false;
  bool idle_ended_ = false;
  bool done_ = false;
  int epoll_fd_ = -1;
  char* scratch_ = nullptr;
  Side sides_[2];
  uint32_t registered_[2] = {0, 0};
  Flow flows_[2];
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_LINUX_LOOP_SESSION_H_

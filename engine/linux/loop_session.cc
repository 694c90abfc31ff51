#include "engine/linux/loop_session.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "base/posix/socket_descriptor.h"
#include "engine/message_framer.h"
#include "engine/relay_pump.h"
#include "engine/socket_ops.h"

namespace portwick {

namespace {

// What makes a socket worth a receive: bytes, an end, an error.
constexpr uint32_t kReadable = EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR;

// The readiness `events` reported had no end or error in it: a short
// receive then took everything there was when they were reported.
bool Settled(uint32_t events) { return (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) == 0; }

ssize_t ReceiveNow(SocketHandle fd, char* buffer, size_t length) {
  while (true) {
    const ssize_t n = ::recv(Descriptor(fd), buffer, length, MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno != EINTR) return errno == EWOULDBLOCK ? -EAGAIN : -errno;
  }
}

ssize_t SendNow(SocketHandle fd, const char* data, size_t length) {
  while (true) {
    const ssize_t n = ::send(Descriptor(fd), data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno != EINTR) return errno == EWOULDBLOCK ? -EAGAIN : -errno;
  }
}

CloseReason ResetBy(Direction source) {
  return source == Direction::kClientToServer ? CloseReason::kResetByClient
                                              : CloseReason::kResetByServer;
}

}  // namespace

LoopSession::LoopSession(std::shared_ptr<Session> session, RelayNeeds needs,
                         SessionDestination destination, const Endpoint& address,
                         std::optional<Clock::time_point> deadline)
    : session_(std::move(session)),
      needs_(std::move(needs)),
      destination_(std::move(destination)),
      address_(address),
      connect_deadline_(deadline),
      connecting_(true),
      blocking_destination_(false),
      sides_{{this, 0}, {this, 1}},
      flows_{{Direction::kClientToServer, 0, 1}, {Direction::kServerToClient, 1, 0}} {}

LoopSession::LoopSession(std::shared_ptr<Session> session, RelayNeeds needs)
    : session_(std::move(session)),
      needs_(std::move(needs)),
      connecting_(false),
      blocking_destination_(true),
      sides_{{this, 0}, {this, 1}},
      flows_{{Direction::kClientToServer, 0, 1}, {Direction::kServerToClient, 1, 0}} {}

LoopSession::~LoopSession() {
  // A session that goes with this object closes its sockets, which takes
  // them off the epoll set; one that threads still relay must leave it.
  if (session_ == nullptr || session_.use_count() == 1) return;
  for (int side = 0; side < 2; ++side) {
    if (registered_[side] != 0)
      ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, Descriptor(fd(side)), nullptr);
  }
}

SocketHandle LoopSession::fd(int side) const {
  return side == 0 ? session_->client_fd() : session_->destination_fd();
}

void LoopSession::Start(int epoll_fd, char* scratch) {
  epoll_fd_ = epoll_fd;
  scratch_ = scratch;
  if (connecting_) {
    Watch();
  } else {
    BeginRelaying();
  }
  if (registered_[0] == 0 && registered_[1] == 0 && !done_) {
    // Nothing could be watched: the session can't go on here.
    Fail(CloseReason::kStopped, Status::Error("epoll", ENOMEM));
  }
}

void LoopSession::OnEvent(int side, uint32_t events) {
  if (connecting_) {
    // The client's bytes wait until the destination is connected; what
    // its events said is kept for then.
    if (side == 0) {
      client_events_ |= events & kReadable;
      return;
    }
    FinishConnect(events);
    if (done_ || connecting_) return;
    if (client_events_ != 0 && flows_[0].state == FlowState::kOnLoop) {
      Relay(flows_[0], Settled(client_events_));
    }
    if (done_) return;
  }
  // A socket's readiness matters to the direction reading it and, while it
  // holds bytes back, to the one writing to it.
  for (Flow& flow : flows_) {
    if (flow.state != FlowState::kOnLoop) continue;
    if (flow.from == side && (events & kReadable) != 0) {
      Relay(flow, Settled(events));
    } else if (flow.to == side && flow.backlog_size > 0) {
      Relay(flow, false);
    }
    if (done_) return;
  }
}

void LoopSession::FinishConnect(uint32_t events) {
  // Only the connect's end wakes a connecting socket: it is writable once
  // connected, and reports an error or a hang-up when the connect failed
  // (the socket then says which).
  int error = 0;
  if ((events & (EPOLLERR | EPOLLHUP)) != 0) {
    socklen_t length = sizeof error;
    if (::getsockopt(Descriptor(fd(1)), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error == 0) error = ECONNRESET;
    // A reset in the handshake says ECONNREFUSED; these say the connection
    // was made and reset since (the peer may have sent bytes before it),
    // so it is relayed: its bytes, then the reset.
    if (error == ECONNRESET || error == EPIPE) {
      reset_at_connect_ = true;
      error = 0;
    }
  }
  connecting_ = false;
  if (session_->cancelled()) {
    done_ = true;
    return;
  }
  if (error != 0) {
    ReportConnectFailed(*session_, destination_, Status::Error("connect", error));
    done_ = true;
    return;
  }
  ReportConnected(*session_, address_);
  sockets::SetNoDelay(fd(1));
  BeginRelaying();
}

void LoopSession::BeginRelaying() {
  relaying_since_ = Clock::now();
  for (Flow& flow : flows_) {
    if (done_) return;
    if (NobodyNeedsBytes(*session_, flow.direction, needs_.log_sink.get())) {
      flow.state = FlowState::kOnLoop;
      flow.seen_generation = session_->identity().conditions_generation;
    } else {
      HandOff(flow, nullptr, 0);
    }
  }
  // A socket added to the epoll set that is ready already reports at once,
  // so bytes that came before are not missed.
  if (!done_) Watch();
}

void LoopSession::Relay(Flow& flow, bool settled) {
  const SocketHandle from = fd(flow.from);
  const SocketHandle to = fd(flow.to);
  while (true) {
    if (flow.backlog_size > 0 && !Flush(flow)) return;
    const ssize_t n = ReceiveNow(from, scratch_, kScratchSize);
    if (n == -EAGAIN) return;
    if (n == 0) return EndOfStream(flow);
    if (n < 0) return Fail(ResetBy(flow.direction), Status::Error("recv", static_cast<int>(n)));
    session_->NoteActivity();
    // As the blocking relays: once the log sink is released, nothing more
    // is sent.
    if (needs_.log_sink != nullptr && needs_.log_sink->IsDetached()) {
      return Fail(CloseReason::kStopped, Status::Error("log", 0, "log sink released"));
    }
    const int32_t size = static_cast<int32_t>(n);
    if (GainedConditions(flow)) return HandOff(flow, scratch_, size);
    const ssize_t sent = SendNow(to, scratch_, static_cast<size_t>(size));
    if (sent < 0 && sent != -EAGAIN) return SendFailed(flow, sent);
    const int32_t taken = sent > 0 ? static_cast<int32_t>(sent) : 0;
    flow.sent += static_cast<uint64_t>(taken);
    if (taken < size) return Hold(flow, scratch_ + taken, size - taken);
    if (static_cast<size_t>(size) < kScratchSize) {
      flow.full_reads = 0;
      // The source had no more when it was read: bytes that come later wake
      // the direction again (edge-triggered, every arrival signals), so
      // the receive that would say EAGAIN is spared.
      if (settled) return;
    } else if (++flow.full_reads >= kBusyReads) {
      // Bulk: a thread splices it with fewer calls per byte.
      return HandOff(flow, nullptr, 0);
    }
  }
}

bool LoopSession::Flush(Flow& flow) {
  const ssize_t sent = SendNow(fd(flow.to), flow.backlog.get() + flow.backlog_sent,
                               static_cast<size_t>(flow.backlog_size - flow.backlog_sent));
  if (sent == -EAGAIN) return false;
  if (sent < 0) {
    SendFailed(flow, sent);
    return false;
  }
  flow.backlog_sent += static_cast<int32_t>(sent);
  flow.sent += static_cast<uint64_t>(sent);
  if (flow.backlog_sent < flow.backlog_size) return false;
  flow.backlog.reset();
  flow.backlog_size = flow.backlog_sent = 0;
  return true;
}

void LoopSession::Hold(Flow& flow, const char* data, int32_t size) {
  flow.backlog.reset(new (std::nothrow) char[static_cast<size_t>(size)]);
  if (flow.backlog == nullptr) return Fail(CloseReason::kStopped, Status::Error("memory", ENOMEM));
  std::memcpy(flow.backlog.get(), data, static_cast<size_t>(size));
  flow.backlog_size = size;
  flow.backlog_sent = 0;
  // The destination's writability wakes the direction again (its epoll
  // entry asks for it while a direction writing there is on the loop).
}

void LoopSession::EndOfStream(Flow& flow) {
  // After a reset from outside a receive may read as end-of-stream.
  if (session_->cancelled()) return Fail(CloseReason::kStopped, Status());
  // The peer's reset, met first by the other direction or by the connect:
  // passed on as one. Only a thread or the connect can have met it so: here
  // the direction that does fails the session at once.
  const Flow& other = flows_[flow.direction == Direction::kClientToServer ? 1 : 0];
  const bool reset_met_elsewhere =
      other.state == FlowState::kOnThread || (reset_at_connect_ && flow.from == 1);
  if (reset_met_elsewhere && session_->EndWasReset(fd(flow.from))) {
    return Fail(ResetBy(flow.direction), Status::Error("recv", ECONNRESET));
  }
  EndFlow(flow, FlowState::kEnded);
  // Reported before the FIN is passed on, so the peer's answering FIN can't
  // be reported ahead of it.
  if (SessionObserver* observer = session_->observer()) {
    observer->OnHalfClosed(SessionHalfClosed{session_->id(), flow.direction, EventTime::Now()});
  }
  // The epoll entries stay as they are: an ended direction ignores its
  // wake-ups, and edge-triggered entries don't repeat them.
  session_->EndSending(fd(flow.to));
  CheckDone();
}

bool LoopSession::GainedConditions(Flow& flow) {
  const LiveConditions* live = session_->identity().live_conditions.get();
  if (live == nullptr || live->generation() == flow.seen_generation) return false;
  const std::shared_ptr<const std::vector<Condition>> current =
      live->Current(&flow.seen_generation);
  const SessionConditions drawn = DrawForSession(*current, session_->identity().seed);
  return !(flow.direction == Direction::kClientToServer ? drawn.up : drawn.down).empty();
}

void LoopSession::HandOff(Flow& flow, const char* carried, int32_t size) {
  EndFlow(flow, FlowState::kOnThread);
  try {
    if (!blocking_destination_) {
      // A socket's status flags are O_NONBLOCK alone here.
      ::fcntl(Descriptor(fd(1)), F_SETFL, 0);
      blocking_destination_ = true;
    }
    auto pump =
        std::make_unique<RelayPump>(session_, flow.direction, std::make_unique<PassThroughFramer>(),
                                    needs_.log_sink, needs_.io);
    std::unique_ptr<char[]> bytes;
    if (size > 0) {
      bytes = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(size));
      std::memcpy(bytes.get(), carried, static_cast<size_t>(size));
    }
    pump->TakeOver(relaying_since_, flow.sent, std::move(bytes), size);
    if (!needs_.threads->Start(MakeTask([pump = std::move(pump)]() mutable {
                                 RelayPump::RunParking(std::move(pump));
                               }),
                               kRelayStackSize)) {
      return Fail(CloseReason::kStopped, Status::Error("thread", EAGAIN));
    }
  } catch (const std::bad_alloc&) {
    return Fail(CloseReason::kStopped, Status());
  }
  if (epoll_fd_ >= 0) Watch();
  CheckDone();
}

void LoopSession::SendFailed(Flow& flow, ssize_t result) {
  // A peer that reset (or closed with bytes unread) shows as ECONNRESET or
  // EPIPE on the send towards it.
  const bool reset = result == -ECONNRESET || result == -EPIPE;
  const CloseReason how =
      !reset ? CloseReason::kSendError
             : ResetBy(flow.direction == Direction::kClientToServer ? Direction::kServerToClient
                                                                    : Direction::kClientToServer);
  Fail(how, Status::Error("send", static_cast<int>(result)));
}

void LoopSession::Fail(CloseReason how, const Status& error) {
  session_->Fail(how, error);
  for (Flow& flow : flows_) {
    if (flow.state == FlowState::kOnLoop || flow.state == FlowState::kWaiting) {
      EndFlow(flow, FlowState::kEnded);
    }
  }
  done_ = true;
}

void LoopSession::EndFlow(Flow& flow, FlowState state) {
  if (flow.state == FlowState::kOnLoop && session_->observer() != nullptr) {
    session_->AddRelayed(flow.direction, flow.sent);
  }
  flow.state = state;
  flow.backlog.reset();
  flow.backlog_size = flow.backlog_sent = 0;
}

void LoopSession::CheckDone() {
  for (const Flow& flow : flows_) {
    if (flow.state == FlowState::kOnLoop || flow.state == FlowState::kWaiting) return;
  }
  done_ = true;
}

uint32_t LoopSession::Interest(int side) const {
  uint32_t interest = 0;
  for (const Flow& flow : flows_) {
    // While connecting, both directions are expected on the loop: the
    // entries then need no change once connected (the destination's
    // becomes writable only then).
    if (flow.state != FlowState::kOnLoop && !connecting_) continue;
    if (flow.from == side) interest |= EPOLLIN | EPOLLRDHUP;
    if (flow.to == side) interest |= EPOLLOUT;
  }
  return interest != 0 ? interest | EPOLLET : 0;
}

void LoopSession::Watch() {
  for (int side = 0; side < 2; ++side) {
    const uint32_t wanted = Interest(side);
    if (wanted == registered_[side]) continue;
    epoll_event event{};
    event.events = wanted;
    event.data.ptr = &sides_[side];
    const int op = wanted == 0              ? EPOLL_CTL_DEL
                   : registered_[side] == 0 ? EPOLL_CTL_ADD
                                            : EPOLL_CTL_MOD;
    if (::epoll_ctl(epoll_fd_, op, Descriptor(fd(side)), &event) != 0 && op != EPOLL_CTL_DEL) {
      // Without its entry the direction would never wake again.
      return Fail(CloseReason::kStopped, Status::Error("epoll", errno));
    }
    registered_[side] = wanted;
  }
}

std::optional<LoopSession::Clock::time_point> LoopSession::Deadline() const {
  if (connecting_) return connect_deadline_;
  if (idle_ended_) return std::nullopt;
  return session_->IdleDeadline();
}

void LoopSession::OnTimer(Clock::time_point now) {
  if (connecting_) {
    if (!connect_deadline_ || now < *connect_deadline_) return;
    connecting_ = false;
    if (!session_->cancelled()) {
      ReportConnectFailed(
          *session_, destination_,
          Status::Error("connect", ETIMEDOUT,
                        "timed out after " + SpokenDuration(destination_.connect_timeout)));
    }
    done_ = true;
    return;
  }
  if (idle_ended_ || !session_->IdleTimedOut()) return;
  // Both sides get a FIN: each direction reads its end next and passes it on.
  idle_ended_ = true;
  session_->EndBoth(
      CloseReason::kIdle,
      Status::Error("idle", 0, "idle " + SpokenDuration(session_->identity().idle_timeout)));
}

}  // namespace portwick

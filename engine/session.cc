#include "engine/session.h"

#include <chrono>
#include <utility>

#include "engine/socket_ops.h"

namespace portwick {

namespace {
int64_t NowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

Session::Session(std::shared_ptr<SocketLayer> layer, Socket client, SessionIdentity identity)
    : identity_(std::move(identity)),
      layer_(std::move(layer)),
      client_(std::move(client)),
      registration_(layer_.get(), client_.fd(), -1) {
  last_activity_.store(NowNanoseconds());
}

Session::Session(SocketLayer* layer, Socket client, Socket destination)
    : client_(std::move(client)),
      destination_(std::move(destination)),
      registration_(layer, client_.fd(), destination_.fd()) {
  last_activity_.store(NowNanoseconds());
}

Session::~Session() {
  SessionObserver* observer = identity_.observer.get();
  if (observer == nullptr) return;
  SessionClosed closed;
  closed.session = identity_.id;
  {
    MutexLock lock(&mutex_);
    if (ending_recorded_) {
      closed.how = how_;
      closed.error = error_;
    } else if (finished_directions_.load() == 2) {
      // A reset from outside after both ends were passed on ended nothing.
      closed.how = CloseReason::kBothFinished;
    } else if (registration_.cancelled()) {
      closed.how = CloseReason::kStopped;
    }
  }
  closed.bytes_up = relayed_[0].load(std::memory_order_relaxed);
  closed.bytes_down = relayed_[1].load(std::memory_order_relaxed);
  closed.time = EventTime::Now();
  closed.duration = std::chrono::duration_cast<std::chrono::nanoseconds>(
      closed.time.monotonic - identity_.opened.monotonic);
  observer->OnClosed(closed);
}

void Session::SetDestination(Socket destination) {
  // The registration lets go of the old descriptor before it is closed, so
  // a reset can't reach a descriptor number reused meanwhile.
  registration_.SetSecondSocket(destination.fd());
  destination_ = std::move(destination);
}

void Session::EndSending(SocketHandle fd) {
  // Noted before the FIN leaves: the answering FIN may close the socket.
  sending_ended_[fd == client_.fd() ? 0 : 1].store(true);
  sockets::ShutdownWrite(fd);
  finished_directions_.fetch_add(1);
}

bool Session::EndWasReset(SocketHandle fd) const {
  return !sending_ended_[fd == client_.fd() ? 0 : 1].load() && sockets::IsClosedState(fd);
}

void Session::RecordEnding(CloseReason how, const Status& error) {
  // Checked before taking the mutex: the layer's lock is not taken under it.
  const bool stopped = registration_.cancelled();
  MutexLock lock(&mutex_);
  if (ending_recorded_) return;
  ending_recorded_ = true;
  // Whatever failed after the session was cancelled from outside failed
  // because of it. (Each pump records its failure before it resets.)
  how_ = stopped ? CloseReason::kStopped : how;
  error_ = stopped ? Status() : error;
}

void Session::EndBoth(CloseReason how, const Status& error) {
  RecordEnding(how, error);
  sockets::ShutdownRead(client_.fd());
  sockets::ShutdownRead(destination_.fd());
}

void Session::NoteActivity() {
  if (identity_.idle_timeout.count() != 0) {
    last_activity_.store(NowNanoseconds(), std::memory_order_relaxed);
  }
}

bool Session::IdleTimedOut() const {
  if (identity_.idle_timeout.count() == 0) return false;
  const int64_t idle = NowNanoseconds() - last_activity_.load(std::memory_order_relaxed);
  return idle >= std::chrono::nanoseconds(identity_.idle_timeout).count();
}

std::optional<std::chrono::steady_clock::time_point> Session::IdleDeadline() const {
  if (identity_.idle_timeout.count() == 0) return std::nullopt;
  const std::chrono::nanoseconds last(last_activity_.load(std::memory_order_relaxed));
  return std::chrono::steady_clock::time_point(
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(last +
                                                                      identity_.idle_timeout));
}

void Session::AddRelayed(Direction direction, uint64_t bytes) {
  relayed_[direction == Direction::kClientToServer ? 0 : 1].fetch_add(bytes,
                                                                      std::memory_order_relaxed);
}

}  // namespace portwick

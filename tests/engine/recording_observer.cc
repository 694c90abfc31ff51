#include "recording_observer.h"

#include <utility>

namespace portwick::testing {

namespace {
// The session's number, "F.N" when an event names a forward.
template <typename Event>
std::string Id(const Event& event) {
  const std::string number = std::to_string(event.session);
  return event.forward == 0 ? number : std::to_string(event.forward) + "." + number;
}

const char* Arrow(Direction direction) {
  return direction == Direction::kClientToServer ? ">" : "<";
}
}  // namespace

ObservedSession& RecordingObserver::Note(SessionId session, const std::string& event,
                                         std::string line) {
  lines_.push_back(std::move(line));
  ObservedSession& observed = sessions_[session];
  observed.events.push_back(event);
  return observed;
}

void RecordingObserver::OnOpened(const SessionOpened& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  Note(event.session, "opened", "open " + Id(event) + " " + event.client.ToString()).opened = event;
}

void RecordingObserver::OnConnected(const SessionConnected& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  Note(event.session, "connected", "connected " + Id(event) + " " + event.destination.ToString())
      .connected = event;
}

void RecordingObserver::OnConnectFailed(const SessionConnectFailed& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  Note(event.session, "connect failed", "failed " + Id(event) + " " + event.status.Message())
      .connect_failed = event;
}

void RecordingObserver::OnChunk(const SessionChunk& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string arrow = Arrow(event.direction);
  ObservedSession& observed =
      Note(event.session, "chunk " + arrow,
           "chunk " + Id(event) + " " + arrow + " " + std::to_string(event.size) + " " +
               std::string(event.data, event.size) +
               (event.held.count() != 0 ? " held=" + std::to_string(event.held.count()) : ""));
  const bool up = event.direction == Direction::kClientToServer;
  (up ? observed.up : observed.down).append(event.data, event.size);
  (up ? observed.up_times : observed.down_times).push_back(event.time);
}

void RecordingObserver::OnHalfClosed(const SessionHalfClosed& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string arrow = Arrow(event.direction);
  Note(event.session, "half-close " + arrow, "half-close " + Id(event) + " " + arrow);
}

void RecordingObserver::OnConditionActed(const SessionConditionActed& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool cut = event.kind == SessionConditionActed::Kind::kCut;
  const std::string what = std::string(cut ? "cut " : "stall ") + Arrow(event.direction);
  Note(event.session, what,
       (cut ? "cut " : "stall ") + Id(event) + " " + Arrow(event.direction) + " " +
           std::to_string(event.bytes) + (cut ? (event.reset ? " reset" : " fin") : ""));
}

void RecordingObserver::OnClosed(const SessionClosed& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  Note(event.session, "closed",
       "closed " + Id(event) + " how=" + std::to_string(static_cast<int>(event.how)) +
           " up=" + std::to_string(event.bytes_up) + " down=" + std::to_string(event.bytes_down))
      .closed.push_back(event);
  ++closed_count_;
  closed_cv_.notify_all();
}

std::map<SessionId, ObservedSession> RecordingObserver::sessions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_;
}

std::vector<std::string> RecordingObserver::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool RecordingObserver::WaitForClosed(size_t count, std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return closed_cv_.wait_for(lock, deadline, [&] { return closed_count_ >= count; });
}

}  // namespace portwick::testing

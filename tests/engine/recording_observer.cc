#include "recording_observer.h"

namespace portwick::testing {

namespace {
const char* Arrow(Direction direction) {
  return direction == Direction::kClientToServer ? ">" : "<";
}
}  // namespace

ObservedSession& RecordingObserver::Note(SessionId session, const std::string& event) {
  ObservedSession& observed = sessions_[session];
  observed.events.push_back(event);
  return observed;
}

void RecordingObserver::OnOpened(const SessionOpened& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  Note(event.session, "opened").opened = event;
}

void RecordingObserver::OnConnected(const SessionConnected& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  Note(event.session, "connected").connected = event;
}

void RecordingObserver::OnConnectFailed(const SessionConnectFailed& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  Note(event.session, "connect failed").connect_failed = event;
}

void RecordingObserver::OnChunk(const SessionChunk& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  ObservedSession& observed = Note(event.session, std::string("chunk ") + Arrow(event.direction));
  const bool up = event.direction == Direction::kClientToServer;
  (up ? observed.up : observed.down).append(event.data, event.size);
  (up ? observed.up_times : observed.down_times).push_back(event.time);
}

void RecordingObserver::OnHalfClosed(const SessionHalfClosed& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  Note(event.session, std::string("half-close ") + Arrow(event.direction));
}

void RecordingObserver::OnClosed(const SessionClosed& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  Note(event.session, "closed").closed.push_back(event);
  ++closed_count_;
  closed_cv_.notify_all();
}

std::map<SessionId, ObservedSession> RecordingObserver::sessions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_;
}

bool RecordingObserver::WaitForClosed(size_t count, std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return closed_cv_.wait_for(lock, deadline, [&] { return closed_count_ >= count; });
}

}  // namespace portwick::testing

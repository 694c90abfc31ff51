#ifndef PORTWICK_TESTS_ENGINE_RECORDING_OBSERVER_H_
#define PORTWICK_TESTS_ENGINE_RECORDING_OBSERVER_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/session_observer.h"

namespace portwick::testing {

// Everything one session reported, in the order it came.
struct ObservedSession {
  // "opened", "connected", "connect failed", "chunk >", "chunk <",
  // "half-close >", "half-close <", "cut >", "stall <" (and the other
  // way), "closed" (">" is client to server).
  std::vector<std::string> events;
  std::optional<SessionOpened> opened;
  std::optional<SessionConnected> connected;
  std::optional<SessionConnectFailed> connect_failed;
  std::vector<SessionClosed> closed;
  std::string up;    // the chunks client to server, joined
  std::string down;  // the chunks server to client, joined
  std::vector<EventTime> up_times;
  std::vector<EventTime> down_times;
};

// A SessionObserver that keeps every event per session, and every event of
// all sessions as one line of text in the order they came, for comparing
// event streams: "open 3 127.0.0.1:40003", "connected 3 127.0.0.1:2007",
// "failed 3 connect: Connection refused", "chunk 3 > 5 hello" (and " held=NS" when
// a condition held it),
// "half-close 3 <", "cut 3 < 4096 reset", "stall 3 > 10",
// "closed 3 how=0 up=5 down=0". Safe for the many threads
// that report at once; tests read copies.
class RecordingObserver : public SessionObserver {
 public:
  explicit RecordingObserver(bool wants_chunks = true) : wants_chunks_(wants_chunks) {}

  bool WantsChunks() const override { return wants_chunks_; }
  void OnOpened(const SessionOpened& event) override;
  void OnConnected(const SessionConnected& event) override;
  void OnConnectFailed(const SessionConnectFailed& event) override;
  void OnChunk(const SessionChunk& event) override;
  void OnHalfClosed(const SessionHalfClosed& event) override;
  void OnConditionActed(const SessionConditionActed& event) override;
  void OnClosed(const SessionClosed& event) override;

  std::map<SessionId, ObservedSession> sessions() const;
  std::vector<std::string> lines() const;
  // Waits until `count` SessionClosed events have come; false at the deadline.
  bool WaitForClosed(size_t count, std::chrono::milliseconds deadline);

 private:
  ObservedSession& Note(SessionId session, const std::string& event, std::string line);

  const bool wants_chunks_;
  mutable std::mutex mutex_;
  std::condition_variable closed_cv_;
  size_t closed_count_ = 0;
  std::map<SessionId, ObservedSession> sessions_;
  std::vector<std::string> lines_;
};

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_ENGINE_RECORDING_OBSERVER_H_

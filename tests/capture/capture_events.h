#ifndef PORTWICK_TESTS_CAPTURE_CAPTURE_EVENTS_H_
#define PORTWICK_TESTS_CAPTURE_CAPTURE_EVENTS_H_

#include <chrono>
#include <string>
#include <string_view>

#include "engine/session_observer.h"
#include "recording_observer.h"

namespace portwick::testing {

// Calls an observer the way the engine does, with made-up endpoints and
// times, so observers are tested without sockets. Session N's client is
// 127.0.0.1:(40000 + N); every session goes to 127.0.0.1:2007. The clock
// starts at a fixed wall time and moves on by `step` per event. An id is a
// CaptureKey: the events carry its forward and number. One thread per feeder.
class EventFeeder {
 public:
  explicit EventFeeder(SessionObserver* observer,
                       std::chrono::microseconds step = std::chrono::microseconds(250));

  void Open(SessionId id);
  void Connect(SessionId id);
  // Open, then Connect: a session that relays.
  void OpenAndConnect(SessionId id) {
    Open(id);
    Connect(id);
  }
  void FailConnect(SessionId id, const char* step, int error_number, const char* reason);
  // `held`: how long a traffic condition held it.
  void Chunk(SessionId id, Direction direction, std::string_view bytes,
             std::chrono::nanoseconds held = std::chrono::nanoseconds(0));
  void HalfClose(SessionId id, Direction direction);
  void Acted(SessionId id, Direction direction, SessionConditionActed::Kind kind, uint64_t bytes,
             bool reset = false);
  void Close(SessionId id, CloseReason how, uint64_t bytes_up = 0, uint64_t bytes_down = 0,
             Status error = Status());

  Endpoint client(SessionId id) const;
  Endpoint destination() const { return destination_; }
  void set_destination(const Endpoint& destination) { destination_ = destination; }
  void set_client_base(const Endpoint& client) { client_base_ = client; }

  // The time the next event gets.
  const EventTime& now() const { return now_; }

 private:
  EventTime Tick();

  SessionObserver* const observer_;
  const std::chrono::microseconds step_;
  EventTime now_;
  Endpoint destination_;
  Endpoint client_base_;
};

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_CAPTURE_CAPTURE_EVENTS_H_

#include "capture_events.h"

#include <utility>

#include "capture/session_label.h"

namespace portwick::testing {

EventFeeder::EventFeeder(SessionObserver* observer, std::chrono::microseconds step)
    : observer_(observer),
      step_(step),
      destination_(Endpoint::LoopbackIPv4(2007)),
      client_base_(Endpoint::LoopbackIPv4(40000)) {
  // 2026-03-01 12:00:00 UTC, and an arbitrary monotonic start.
  now_.wall = std::chrono::system_clock::time_point(std::chrono::seconds(1772366400));
  now_.monotonic = std::chrono::steady_clock::time_point(std::chrono::hours(1));
}

EventTime EventFeeder::Tick() {
  const EventTime time = now_;
  now_.wall += step_;
  now_.monotonic += step_;
  return time;
}

Endpoint EventFeeder::client(SessionId id) const {
  Endpoint client = client_base_;
  client.set_port(static_cast<uint16_t>(client_base_.port() + id % 20000));
  return client;
}

void EventFeeder::Open(SessionId id) {
  SessionOpened event;
  event.session = NumberOf(id);
  event.forward = ForwardOf(id);
  event.client = client(id);
  event.listener = Endpoint::LoopbackIPv4(1999);
  event.time = Tick();
  observer_->OnOpened(event);
}

void EventFeeder::Connect(SessionId id) {
  SessionConnected event;
  event.session = NumberOf(id);
  event.forward = ForwardOf(id);
  event.destination = destination_;
  event.local = Endpoint::LoopbackIPv4(50000);
  event.took = std::chrono::microseconds(300);
  event.time = Tick();
  observer_->OnConnected(event);
}

void EventFeeder::FailConnect(SessionId id, const char* step, int error_number,
                              const char* reason) {
  SessionConnectFailed event;
  event.session = NumberOf(id);
  event.forward = ForwardOf(id);
  event.host = "localhost";
  event.port = 2007;
  // As the engine marks a failed name resolution.
  const bool resolve = std::string_view(step) == "resolve";
  event.status = Status::Error(resolve ? Status::Kind::kResolve : Status::Kind::kOther, step,
                               error_number, reason);
  event.time = Tick();
  observer_->OnConnectFailed(event);
}

void EventFeeder::Chunk(SessionId id, Direction direction, std::string_view bytes,
                        std::chrono::nanoseconds held) {
  SessionChunk event;
  event.session = NumberOf(id);
  event.forward = ForwardOf(id);
  event.direction = direction;
  event.time = Tick();
  event.data = bytes.data();
  event.size = bytes.size();
  event.held = held;
  observer_->OnChunk(event);
}

void EventFeeder::HalfClose(SessionId id, Direction direction) {
  SessionHalfClosed event;
  event.session = NumberOf(id);
  event.forward = ForwardOf(id);
  event.direction = direction;
  event.time = Tick();
  observer_->OnHalfClosed(event);
}

void EventFeeder::Acted(SessionId id, Direction direction, SessionConditionActed::Kind kind,
                        uint64_t bytes, bool reset) {
  SessionConditionActed event;
  event.session = NumberOf(id);
  event.forward = ForwardOf(id);
  event.direction = direction;
  event.kind = kind;
  event.bytes = bytes;
  event.reset = reset;
  event.time = Tick();
  observer_->OnConditionActed(event);
}

void EventFeeder::Close(SessionId id, CloseReason how, uint64_t bytes_up, uint64_t bytes_down,
                        Status error) {
  SessionClosed event;
  event.error = std::move(error);
  event.session = NumberOf(id);
  event.forward = ForwardOf(id);
  event.how = how;
  event.bytes_up = bytes_up;
  event.bytes_down = bytes_down;
  event.duration = std::chrono::microseconds(76500);
  event.time = Tick();
  observer_->OnClosed(event);
}

}  // namespace portwick::testing

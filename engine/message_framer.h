#ifndef PORTWICK_ENGINE_MESSAGE_FRAMER_H_
#define PORTWICK_ENGINE_MESSAGE_FRAMER_H_

#include <cstdint>

namespace portwick {

// Finds message boundaries in the bytes a relay pump has received. Each pump
// owns its framer and calls it from its own thread only.
class MessageFramer {
 public:
  virtual ~MessageFramer() = default;

  // Given the bytes from the message start to the end of the data (followed
  // by a zero byte), returns true and sets `end` one past the last byte of
  // the first complete message (start < end <= start + length), or returns
  // false when no message is complete yet. A framer that returns false on a
  // full buffer must remember that a message is in progress.
  virtual bool FindMessageEnd(const char* start, int32_t length, const char** end) = 0;
  // Not asked by the pump; kept for framers that want it.
  virtual bool ReservedQuery() = 0;
  // Asked right after FindMessageEnd returned true: the message began in full
  // buffers that the pump has set aside and is to be forwarded joined with them.
  virtual bool IsContinuation() = 0;
  // True for a framer that takes every receive as one message: the pump may
  // then relay without looking at the bytes at all.
  virtual bool IsPassThrough() const { return false; }
};

// Treats whatever one receive delivered as one message.
class PassThroughFramer final : public MessageFramer {
 public:
  bool FindMessageEnd(const char* start, int32_t length, const char** end) override {
    *end = start + length;
    return true;
  }
  bool ReservedQuery() override { return false; }
  bool IsContinuation() override { return false; }
  bool IsPassThrough() const override { return true; }
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_MESSAGE_FRAMER_H_

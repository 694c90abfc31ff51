#ifndef PORTWICK_CAPTURE_CAPTURED_CHUNK_H_
#define PORTWICK_CAPTURE_CAPTURED_CHUNK_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/session_observer.h"

namespace portwick {

class ChunkRef;

// One captured chunk: the bytes a relay passed on in one direction, with when
// and where in the session they came. Header and bytes are one allocation.
// Immutable once the capture store has published it, so any number of
// threads read it at once; counted references (ChunkRef) keep it alive, also
// after the store has dropped it.
class CapturedChunk {
 public:
  CapturedChunk(const CapturedChunk&) = delete;
  CapturedChunk& operator=(const CapturedChunk&) = delete;

  // A copy of `size` bytes at `data`; null when memory is short.
  static ChunkRef Copy(Direction direction, const EventTime& time, const char* data, size_t size);

  // Position among the chunks of its session (both directions), from 0.
  uint64_t index() const { return index_; }
  // Offset of the first byte in its direction's byte stream.
  uint64_t stream_offset() const { return stream_offset_; }
  Direction direction() const { return direction_; }
  const EventTime& time() const { return time_; }
  const char* data() const { return reinterpret_cast<const char*>(this + 1); }
  size_t size() const { return size_; }
  std::string_view bytes() const { return {data(), size_}; }

 private:
  friend class ChunkRef;
  friend class CaptureStore;  // sets index and offset before publishing

  CapturedChunk(Direction direction, const EventTime& time, size_t size)
      : time_(time), size_(size), direction_(direction) {}
  ~CapturedChunk() = default;

  std::atomic<uint32_t> references_{1};
  EventTime time_;
  uint64_t index_ = 0;
  uint64_t stream_offset_ = 0;
  size_t size_;
  Direction direction_;
  // The bytes follow the header.
};

// A counted reference to a CapturedChunk (or none). Copy and destroy from
// any thread; one ChunkRef object is used by one thread at a time.
class ChunkRef {
 public:
  ChunkRef() = default;
  ChunkRef(const ChunkRef& other) noexcept;
  ChunkRef(ChunkRef&& other) noexcept : chunk_(other.chunk_) { other.chunk_ = nullptr; }
  ChunkRef& operator=(ChunkRef other) noexcept {
    std::swap(chunk_, other.chunk_);
    return *this;
  }
  ~ChunkRef();

  explicit operator bool() const { return chunk_ != nullptr; }
  const CapturedChunk& operator*() const { return *chunk_; }
  const CapturedChunk* operator->() const { return chunk_; }

 private:
  friend class CapturedChunk;
  friend class CaptureStore;
  explicit ChunkRef(CapturedChunk* chunk) : chunk_(chunk) {}
  CapturedChunk* mutable_chunk() const { return chunk_; }

  CapturedChunk* chunk_ = nullptr;
};

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_CAPTURED_CHUNK_H_

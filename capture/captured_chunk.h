#ifndef PORTWICK_CAPTURE_CAPTURED_CHUNK_H_
#define PORTWICK_CAPTURE_CAPTURED_CHUNK_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "capture/chunk_block.h"
#include "engine/session_observer.h"

namespace portwick {

// One captured chunk: the bytes a relay passed on in one direction, with when
// and where in the session they came; header and bytes lie in a ChunkBlock
// of the capture store. Immutable once the store has published it, so any
// number of threads read it at once; counted references (ChunkRef) keep its
// block alive, also after the store has dropped the chunk.
class CapturedChunk {
 public:
  CapturedChunk(const CapturedChunk&) = delete;
  CapturedChunk& operator=(const CapturedChunk&) = delete;

  // Position among the chunks of its session (both directions), from 0.
  uint64_t index() const { return index_; }
  // Offset of the first byte in its direction's byte stream.
  uint64_t stream_offset() const { return stream_offset_; }
  Direction direction() const { return direction_; }
  const EventTime& time() const { return time_; }
  const char* data() const { return reinterpret_cast<const char*>(this + 1); }
  size_t size() const { return size_; }
  std::string_view bytes() const { return {data(), size_}; }

  // The room a chunk of `size` bytes takes in a block, header included.
  static size_t Footprint(size_t size);

 private:
  friend class ChunkRef;
  friend class CaptureStore;  // lays chunks out and numbers them

  CapturedChunk(ChunkBlock* block, Direction direction, const EventTime& time, size_t size)
      : block_(block), time_(time), size_(size), direction_(direction) {}
  ~CapturedChunk() = default;
  char* mutable_data() { return reinterpret_cast<char*>(this + 1); }

  ChunkBlock* const block_;
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
  ChunkRef(const ChunkRef& other) noexcept : chunk_(other.chunk_) {
    if (chunk_ != nullptr) chunk_->block_->Ref();
  }
  ChunkRef(ChunkRef&& other) noexcept : chunk_(std::exchange(other.chunk_, nullptr)) {}
  ChunkRef& operator=(ChunkRef other) noexcept {
    std::swap(chunk_, other.chunk_);
    return *this;
  }
  ~ChunkRef() {
    if (chunk_ != nullptr) chunk_->block_->Unref();
  }

  // A new counted reference to a chunk that something else keeps alive.
  static ChunkRef Counted(CapturedChunk* chunk) {
    chunk->block_->Ref();
    return ChunkRef(chunk);
  }

  explicit operator bool() const { return chunk_ != nullptr; }
  const CapturedChunk& operator*() const { return *chunk_; }
  const CapturedChunk* operator->() const { return chunk_; }

 private:
  friend class CaptureStore;
  // Takes over a reference already counted on the chunk's block.
  explicit ChunkRef(CapturedChunk* chunk) : chunk_(chunk) {}

  CapturedChunk* chunk_ = nullptr;
};

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_CAPTURED_CHUNK_H_

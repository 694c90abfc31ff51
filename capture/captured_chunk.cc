#include "capture/captured_chunk.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace portwick {

ChunkRef CapturedChunk::Copy(Direction direction, const EventTime& time, const char* data,
                             size_t size) {
  // malloc, not new: a relay thread must never see an exception from here.
  void* memory = std::malloc(sizeof(CapturedChunk) + size);
  if (memory == nullptr) return ChunkRef();
  auto* chunk = new (memory) CapturedChunk(direction, time, size);
  if (size > 0) std::memcpy(const_cast<char*>(chunk->data()), data, size);
  return ChunkRef(chunk);
}

ChunkRef::ChunkRef(const ChunkRef& other) noexcept : chunk_(other.chunk_) {
  if (chunk_ != nullptr) chunk_->references_.fetch_add(1, std::memory_order_relaxed);
}

ChunkRef::~ChunkRef() {
  if (chunk_ == nullptr) return;
  if (chunk_->references_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    chunk_->~CapturedChunk();
    std::free(chunk_);
  }
}

}  // namespace portwick

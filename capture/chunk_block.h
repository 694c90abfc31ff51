#ifndef PORTWICK_CAPTURE_CHUNK_BLOCK_H_
#define PORTWICK_CAPTURE_CHUNK_BLOCK_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/mutex.h"

namespace portwick {

class BlockPool;

// A piece of memory that captured chunks are laid out in, back to back. It
// counts the references to it (one per chunk the store holds, one per
// ChunkRef a reader holds, one while the store writes into it) and goes back
// to its pool, or is freed, when the last one ends.
//
// Ref and Unref from any thread; `used` only under the capture store's lock.
class ChunkBlock {
 public:
  ChunkBlock(const ChunkBlock&) = delete;
  ChunkBlock& operator=(const ChunkBlock&) = delete;

  void Ref() { references_.fetch_add(1, std::memory_order_relaxed); }
  void Unref();

  char* bytes() { return reinterpret_cast<char*>(this + 1); }
  size_t capacity() const { return capacity_; }
  size_t used = 0;

 private:
  friend class BlockPool;
  ChunkBlock(BlockPool* pool, size_t capacity) : pool_(pool), capacity_(capacity) {}
  ~ChunkBlock() = default;

  std::atomic<uint32_t> references_{0};
  BlockPool* const pool_;  // null for a block made for one large chunk
  const size_t capacity_;
};

// Blocks of one size, kept for reuse once their chunks are gone: the memory
// a capture store takes stays at the blocks it needed at most, however many
// threads wrote the chunks (memory the C library hands each thread from an
// arena of its own would not be reused across threads).
//
// The owner (the capture store) makes it with Create and lets go with Close;
// it lives on until every block it handed out has come back. Take and Close
// from the owner's calls, Return (through ChunkBlock::Unref) from any thread.
class BlockPool {
 public:
  static BlockPool* Create(size_t block_size);
  BlockPool(const BlockPool&) = delete;
  BlockPool& operator=(const BlockPool&) = delete;

  // A block with no references and nothing used; null when memory is short.
  ChunkBlock* Take() LOCKS_EXCLUDED(mutex_);
  // A block of its own for `capacity` bytes, freed when its last reference
  // ends; null when memory is short.
  static ChunkBlock* TakeLarge(size_t capacity);
  // Frees the spare blocks; blocks still out are freed when they come back.
  void Close() LOCKS_EXCLUDED(mutex_);

  size_t block_size() const { return block_size_; }
  // Blocks made so far and not freed.
  size_t blocks() const LOCKS_EXCLUDED(mutex_);

 private:
  friend class ChunkBlock;
  explicit BlockPool(size_t block_size) : block_size_(block_size) {}
  ~BlockPool() = default;

  static ChunkBlock* Make(BlockPool* pool, size_t capacity);
  static void Free(ChunkBlock* block);
  void Return(ChunkBlock* block) LOCKS_EXCLUDED(mutex_);
  void Release();

  const size_t block_size_;
  // One for the owner until Close, one per block out of the pool.
  std::atomic<uint32_t> references_{1};
  mutable Mutex mutex_;
  std::vector<ChunkBlock*> spare_ GUARDED_BY(mutex_);
  size_t blocks_ GUARDED_BY(mutex_) = 0;
  bool closed_ GUARDED_BY(mutex_) = false;
};

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_CHUNK_BLOCK_H_

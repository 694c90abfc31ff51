#include "capture/chunk_block.h"

#include <cstdlib>
#include <new>

namespace portwick {

void ChunkBlock::Unref() {
  if (references_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (pool_ != nullptr) {
    pool_->Return(this);
  } else {
    BlockPool::Free(this);
  }
}

BlockPool* BlockPool::Create(size_t block_size) { return new BlockPool(block_size); }

ChunkBlock* BlockPool::Make(BlockPool* pool, size_t capacity) {
  // malloc, not new: a relay thread must never see an exception from here.
  void* memory = std::malloc(sizeof(ChunkBlock) + capacity);
  return memory == nullptr ? nullptr : new (memory) ChunkBlock(pool, capacity);
}

void BlockPool::Free(ChunkBlock* block) {
  block->~ChunkBlock();
  std::free(block);
}

ChunkBlock* BlockPool::Take() {
  ChunkBlock* block = nullptr;
  {
    MutexLock lock(&mutex_);
    if (!spare_.empty()) {
      block = spare_.back();
      spare_.pop_back();
    }
  }
  if (block == nullptr) {
    block = Make(this, block_size_);
    if (block == nullptr) return nullptr;
    MutexLock lock(&mutex_);
    ++blocks_;
  }
  block->used = 0;
  references_.fetch_add(1, std::memory_order_relaxed);
  return block;
}

ChunkBlock* BlockPool::TakeLarge(size_t capacity) { return Make(nullptr, capacity); }

void BlockPool::Return(ChunkBlock* block) {
  {
    MutexLock lock(&mutex_);
    if (closed_) {
      Free(block);
      --blocks_;
    } else {
      try {
        spare_.push_back(block);
      } catch (const std::bad_alloc&) {
        Free(block);
        --blocks_;
      }
    }
  }
  Release();
}

void BlockPool::Close() {
  {
    MutexLock lock(&mutex_);
    closed_ = true;
    for (ChunkBlock* block : spare_) Free(block);
    blocks_ -= spare_.size();
    spare_.clear();
  }
  Release();
}

void BlockPool::Release() {
  if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

size_t BlockPool::blocks() const {
  MutexLock lock(&mutex_);
  return blocks_;
}

}  // namespace portwick

#include "capture/captured_chunk.h"

namespace portwick {

size_t CapturedChunk::Footprint(size_t size) {
  // Headers stay 8-byte aligned in their block.
  constexpr size_t kAlignment = 8;
  static_assert(sizeof(CapturedChunk) % kAlignment == 0);
  return (sizeof(CapturedChunk) + size + kAlignment - 1) / kAlignment * kAlignment;
}

}  // namespace portwick

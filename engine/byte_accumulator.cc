#include "engine/byte_accumulator.h"

#include <cstring>
#include <limits>
#include <utility>

namespace portwick {

bool ByteAccumulator::Append(const char* data, int32_t length, std::unique_ptr<char[]> block) {
  // One byte of room is kept for the zero that Join puts at the end.
  if (length < 0 || length > std::numeric_limits<int32_t>::max() - 1 - total_) return false;
  pieces_.push_back(Piece{data, length, std::move(block)});
  total_ += length;
  return true;
}

std::unique_ptr<char[]> ByteAccumulator::Join() const {
  auto joined = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(total_) + 1);
  char* out = joined.get();
  for (const Piece& piece : pieces_) {
    std::memcpy(out, piece.data, static_cast<size_t>(piece.length));
    out += piece.length;
  }
  *out = '\0';
  return joined;
}

void ByteAccumulator::Clear() {
  pieces_.clear();
  total_ = 0;
}

}  // namespace portwick

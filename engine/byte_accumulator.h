#ifndef PORTWICK_ENGINE_BYTE_ACCUMULATOR_H_
#define PORTWICK_ENGINE_BYTE_ACCUMULATOR_H_

#include <cstdint>
#include <memory>
#include <vector>

namespace portwick {

// Holds the pieces of a message that spans several full buffers until its
// end arrives, then joins them into one record. Used by one relay thread.
class ByteAccumulator {
 public:
  ByteAccumulator() = default;
  ByteAccumulator(const ByteAccumulator&) = delete;
  ByteAccumulator& operator=(const ByteAccumulator&) = delete;
  ~ByteAccumulator() = default;

  // Adds `length` bytes at `data` as the last piece. With `block` set, the
  // accumulator owns that block (which holds the bytes) and releases it in
  // Clear; without, the bytes are borrowed and must stay valid until Clear.
  // Returns false, and adds nothing, when the total would no longer fit a
  // record's 32-bit length.
  bool Append(const char* data, int32_t length, std::unique_ptr<char[]> block);

  // A new buffer holding every piece in order followed by a zero byte, so
  // total() + 1 bytes long. May throw std::bad_alloc.
  std::unique_ptr<char[]> Join() const;

  // Releases the owned blocks and drops every piece.
  void Clear();

  int32_t total() const { return total_; }
  bool empty() const { return pieces_.empty(); }

 private:
  struct Piece {
    const char* data;
    int32_t length;
    std::unique_ptr<char[]> block;  // null for borrowed bytes
  };

  int32_t total_ = 0;
  std::vector<Piece> pieces_;
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_BYTE_ACCUMULATOR_H_

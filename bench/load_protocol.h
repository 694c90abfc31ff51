#ifndef PORTWICK_BENCH_LOAD_PROTOCOL_H_
#define PORTWICK_BENCH_LOAD_PROTOCOL_H_

#include <cstddef>
#include <cstdint>

namespace portwick::bench {

// The load server learns what a connection wants from its first byte, so that
// one server behind one forwarder serves every measurement:
//
//   'e'          echo: every byte, the 'e' included, is sent back.
//   's'          sink: the bytes after the 's' are counted and thrown away;
//                one kAckByte goes back for every kAckUnit bytes received,
//                so a client learns that its upload arrived without a
//                half-close (which a forwarder may treat as the end).
//   'r' + 8 LE   source: the server sends exactly that many bytes, then waits
//                for the client to close.
inline constexpr char kEchoMode = 'e';
inline constexpr char kSinkMode = 's';
inline constexpr char kSourceMode = 'r';
inline constexpr char kAckByte = 'a';
inline constexpr std::size_t kAckUnit = std::size_t{1} << 20;
inline constexpr std::size_t kSourceHeaderSize = 8;

// Little-endian 64-bit count used after kSourceMode.
inline void EncodeCount(std::uint64_t value, unsigned char* out) {
  for (std::size_t i = 0; i < kSourceHeaderSize; ++i)
    out[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline std::uint64_t DecodeCount(const unsigned char* in) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < kSourceHeaderSize; ++i) value |= std::uint64_t{in[i]} << (8 * i);
  return value;
}

}  // namespace portwick::bench

#endif  // PORTWICK_BENCH_LOAD_PROTOCOL_H_

#ifndef PORTWICK_BENCH_APPEND_SPEED_H_
#define PORTWICK_BENCH_APPEND_SPEED_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace portwick::bench {

struct AppendResult {
  bool ok = false;
  std::string error;
  double seconds = 0;
  double MiBPerSecond(std::uint64_t bytes) const;
};

// Appends `bytes` to `path` (created if missing) in writes of `chunk` bytes,
// through the page cache like a log file, and times it: the speed a file sink
// could reach at best in that folder. Any thread.
AppendResult TimeAppends(const std::string& path, std::uint64_t bytes, std::size_t chunk);

}  // namespace portwick::bench

#endif  // PORTWICK_BENCH_APPEND_SPEED_H_

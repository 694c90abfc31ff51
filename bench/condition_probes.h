#ifndef PORTWICK_BENCH_CONDITION_PROBES_H_
#define PORTWICK_BENCH_CONDITION_PROBES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "bench/socket_util.h"

namespace portwick::bench {

// Measurements of what traffic conditions do, against the load server
// through a forwarder on 127.0.0.1:port. Each call blocks its caller and is
// bounded in bytes and time; failures come back in `error`.

// How a counted download ended.
enum class DownloadEnd { kComplete, kEndOfStream, kReset, kTimeout, kFailed };

struct CountedDownload {
  std::string error;          // set when it could not start
  std::uint64_t bytes = 0;    // received
  std::uint64_t reads = 0;    // receive calls that returned bytes
  std::uint64_t largest = 0;  // the most bytes one receive returned
  // Data segments the client's socket received (TCP_INFO tcpi_data_segs_in):
  // the pieces as they came on the wire, however the reads merged them.
  std::uint64_t segments = 0;
  DownloadEnd end = DownloadEnd::kFailed;
};

// Asks the server for `bytes` and reads until it has them all, or until the
// stream ends (a FIN or a reset) or nothing came for `quiet_seconds`. Every
// read takes what is there (up to 64 KiB), so the counts show how the bytes
// arrived.
CountedDownload RunCountedDownload(int port, std::uint64_t bytes, double quiet_seconds);

// A listener on 127.0.0.1 whose accept queue is full and never emptied:
// Linux drops further SYNs to it, so a connect there hangs as it would to a
// host that drops them. Owner thread only.
class StalledListener {
 public:
  // The port, or 0 (with `error`) when the queue could not be filled.
  int Open(std::string* error);

 private:
  UniqueFd listener_;
  std::vector<UniqueFd> fillers_;
};

// Connects to the forwarder and waits, at most `max_seconds`, until the
// forwarder ends the connection (an end of stream or a reset); returns the
// seconds from the connect to that end, or -1 (with `error`).
double SecondsUntilClosed(int port, double max_seconds, std::string* error);

}  // namespace portwick::bench

#endif  // PORTWICK_BENCH_CONDITION_PROBES_H_

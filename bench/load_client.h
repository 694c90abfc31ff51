#ifndef PORTWICK_BENCH_LOAD_CLIENT_H_
#define PORTWICK_BENCH_LOAD_CLIENT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "bench/socket_util.h"

namespace portwick::bench {

// Load patterns run against a LoadServer on 127.0.0.1:port, directly or
// through a forwarder. Each call blocks its caller, uses threads of its own
// where it needs several connections, joins them before it returns, and is
// bounded in bytes, count and time. Failures come back in `error`.

struct BulkResult {
  bool ok = false;
  std::string error;
  std::uint64_t bytes = 0;  // payload bytes moved, all connections together
  double seconds = 0;
  double MiBPerSecond() const;
};

// Client to server: each of `connections` sends `total_bytes / connections`
// (rounded down to whole ack units) after the sink byte and waits for the
// server's acks for all of it.
BulkResult RunUpload(int port, int connections, std::uint64_t total_bytes);

// Server to client: each connection asks the source for its share and reads
// it all.
BulkResult RunDownload(int port, int connections, std::uint64_t total_bytes);

struct LatencyResult {
  bool ok = false;
  std::string error;
  std::vector<double> round_trips_us;  // one per timed exchange, in order
};

// One echo connection; after `warm_up` untimed exchanges, times up to
// `iterations` 1-byte round trips, stopping early after `max_seconds`.
LatencyResult RunPingPong(int port, int warm_up, int iterations, double max_seconds);

struct RateResult {
  bool ok = false;
  std::string error;
  std::uint64_t connections = 0;  // completed connect/request/reply/close cycles
  std::uint64_t failures = 0;
  double seconds = 0;
  double slowest_ms = 0;  // the longest completed cycle
  double PerSecond() const;
};

// `clients` threads each repeat connect, 1-byte request, 1-byte reply, close
// for `seconds` or until `max_connections` cycles were done in total. Fails
// when more than 1 % of the cycles failed.
RateResult RunConnectionRate(int port, int clients, double seconds, std::uint64_t max_connections);

struct ExchangeResult {
  bool ok = false;
  std::string error;
  std::uint64_t exchanges = 0;  // request/reply round trips, all connections together
  double seconds = 0;
  std::vector<double> round_trips_us;  // a sample of them, every connection alike
  double PerSecond() const;
};

// `connections` echo sessions, each on a thread of its own, each sending a
// `size`-byte request and awaiting its `size`-byte reply, again and again for
// `seconds` (after a few untimed ones, once every session is up).
ExchangeResult RunExchanges(int port, int connections, int size, double seconds);

// Opens `count` echo sessions and confirms each with one round trip (so every
// session is fully set up inside a forwarder), then holds them until Close or
// destruction. Owner thread only.
class IdleSessions {
 public:
  IdleSessions() = default;
  IdleSessions(const IdleSessions&) = delete;
  IdleSessions& operator=(const IdleSessions&) = delete;

  bool Open(int port, int count, std::string* error);
  int size() const { return static_cast<int>(sessions_.size()); }
  void Close() { sessions_.clear(); }

 private:
  std::vector<UniqueFd> sessions_;
};

}  // namespace portwick::bench

#endif  // PORTWICK_BENCH_LOAD_CLIENT_H_

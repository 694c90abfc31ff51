#include "bench/load_client.h"

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>

#include "bench/load_protocol.h"

namespace portwick::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunkSize = 256 * 1024;
constexpr int kBulkTimeoutMs = 60'000;  // one stalled send or receive
constexpr int kShortTimeoutMs = 5'000;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string UploadOne(int port, std::uint64_t bytes) {
  std::string error;
  UniqueFd fd = ConnectLoopback(port, kBulkTimeoutMs, &error);
  if (!fd.valid()) return error;
  std::unique_ptr<char[]> chunk(new char[kChunkSize]);
  for (std::size_t i = 0; i < kChunkSize; ++i) chunk[i] = static_cast<char>(i * 7);
  const char mode = kSinkMode;
  if (!WriteAll(fd.get(), &mode, 1)) return "upload: send failed";
  for (std::uint64_t left = bytes; left > 0;) {
    std::size_t n = left < kChunkSize ? static_cast<std::size_t>(left) : kChunkSize;
    if (!WriteAll(fd.get(), chunk.get(), n)) return "upload: send failed or timed out";
    left -= n;
  }
  std::string acks(bytes / kAckUnit, '\0');
  if (!ReadExactly(fd.get(), acks.data(), acks.size())) return "upload: acks missing";
  if (acks.find_first_not_of(kAckByte) != std::string::npos) return "upload: bad ack";
  return {};
}

std::string DownloadOne(int port, std::uint64_t bytes) {
  std::string error;
  UniqueFd fd = ConnectLoopback(port, kBulkTimeoutMs, &error);
  if (!fd.valid()) return error;
  unsigned char request[1 + kSourceHeaderSize];
  request[0] = static_cast<unsigned char>(kSourceMode);
  EncodeCount(bytes, request + 1);
  if (!WriteAll(fd.get(), request, sizeof(request))) return "download: request failed";
  std::unique_ptr<char[]> chunk(new char[kChunkSize]);
  for (std::uint64_t left = bytes; left > 0;) {
    std::size_t want = left < kChunkSize ? static_cast<std::size_t>(left) : kChunkSize;
    ssize_t n = ::recv(fd.get(), chunk.get(), want, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return "download: stream ended or timed out early";
    left -= static_cast<std::uint64_t>(n);
  }
  return {};
}

// Runs `one(port, share)` on `connections` threads and times them together.
template <typename One>
BulkResult RunBulk(int port, int connections, std::uint64_t share, One one) {
  BulkResult result;
  if (connections < 1 || share == 0) {
    result.error = "nothing to transfer";
    return result;
  }
  std::vector<std::string> errors(static_cast<std::size_t>(connections));
  std::vector<std::thread> threads;
  Clock::time_point start = Clock::now();
  for (int i = 0; i < connections; ++i) {
    threads.emplace_back(
        [&errors, i, port, share, one] { errors[static_cast<std::size_t>(i)] = one(port, share); });
  }
  for (std::thread& thread : threads) thread.join();
  result.seconds = SecondsSince(start);
  for (const std::string& error : errors) {
    if (!error.empty()) {
      result.error = error;
      return result;
    }
  }
  result.ok = true;
  result.bytes = share * static_cast<std::uint64_t>(connections);
  return result;
}

}  // namespace

double BulkResult::MiBPerSecond() const {
  return seconds > 0 ? static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds : 0;
}

double RateResult::PerSecond() const {
  return seconds > 0 ? static_cast<double>(connections) / seconds : 0;
}

BulkResult RunUpload(int port, int connections, std::uint64_t total_bytes) {
  std::uint64_t share = connections > 0 ? total_bytes / static_cast<std::uint64_t>(connections) : 0;
  share -= share % kAckUnit;
  return RunBulk(port, connections, share, UploadOne);
}

BulkResult RunDownload(int port, int connections, std::uint64_t total_bytes) {
  std::uint64_t share = connections > 0 ? total_bytes / static_cast<std::uint64_t>(connections) : 0;
  return RunBulk(port, connections, share, DownloadOne);
}

LatencyResult RunPingPong(int port, int warm_up, int iterations, double max_seconds) {
  LatencyResult result;
  UniqueFd fd = ConnectLoopback(port, kShortTimeoutMs, &result.error);
  if (!fd.valid()) return result;
  char byte = kEchoMode;
  if (!WriteAll(fd.get(), &byte, 1) || !ReadExactly(fd.get(), &byte, 1) || byte != kEchoMode) {
    result.error = "ping-pong: echo session not established";
    return result;
  }
  result.round_trips_us.reserve(static_cast<std::size_t>(iterations));
  Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(max_seconds));
  for (int i = 0; i < warm_up + iterations; ++i) {
    char ping = static_cast<char>('0' + i % 10);
    char pong = 0;
    Clock::time_point start = Clock::now();
    if (!WriteAll(fd.get(), &ping, 1) || !ReadExactly(fd.get(), &pong, 1)) {
      result.error = "ping-pong: connection failed";
      return result;
    }
    Clock::time_point end = Clock::now();
    if (pong != ping) {
      result.error = "ping-pong: wrong byte echoed";
      return result;
    }
    if (i >= warm_up) {
      result.round_trips_us.push_back(
          std::chrono::duration<double, std::micro>(end - start).count());
    }
    if (end > deadline) break;
  }
  result.ok = !result.round_trips_us.empty();
  if (!result.ok) result.error = "ping-pong: no timed exchange";
  return result;
}

RateResult RunConnectionRate(int port, int clients, double seconds, std::uint64_t max_connections) {
  RateResult result;
  std::atomic<std::uint64_t> done{0};
  std::atomic<std::uint64_t> failed{0};
  Clock::time_point start = Clock::now();
  Clock::time_point deadline =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  std::vector<double> slowest(static_cast<std::size_t>(clients > 0 ? clients : 0), 0.0);
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back([&, i] {
      while (Clock::now() < deadline && done.load(std::memory_order_relaxed) < max_connections) {
        const Clock::time_point cycle_start = Clock::now();
        UniqueFd fd = ConnectLoopback(port, kShortTimeoutMs, nullptr);
        char byte = kEchoMode;
        if (fd.valid() && WriteAll(fd.get(), &byte, 1) && ReadExactly(fd.get(), &byte, 1) &&
            byte == kEchoMode) {
          done.fetch_add(1, std::memory_order_relaxed);
          double& worst = slowest[static_cast<std::size_t>(i)];
          worst = std::max(worst, SecondsSince(cycle_start) * 1000);
        } else if (failed.fetch_add(1, std::memory_order_relaxed) > 1000) {
          return;  // something is badly wrong; don't spin
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  result.seconds = SecondsSince(start);
  for (double worst : slowest) result.slowest_ms = std::max(result.slowest_ms, worst);
  result.connections = done.load();
  result.failures = failed.load();
  result.ok = result.connections > 0 && result.failures * 100 <= result.connections;
  if (!result.ok) {
    result.error = "connection rate: " + std::to_string(result.failures) + " of " +
                   std::to_string(result.connections + result.failures) + " cycles failed";
  }
  return result;
}

double ExchangeResult::PerSecond() const {
  return seconds > 0 ? static_cast<double>(exchanges) / seconds : 0;
}

ExchangeResult RunExchanges(int port, int connections, int size, double seconds) {
  ExchangeResult result;
  if (connections < 1 || size < 1) {
    result.error = "exchanges: nothing to exchange";
    return result;
  }
  // Each connection keeps at most this many round trips for the percentile.
  constexpr std::size_t kSamplesPerConnection = 20'000;
  constexpr int kWarmUp = 20;
  const auto count = static_cast<std::size_t>(connections);
  std::vector<std::vector<double>> samples(count);
  std::vector<std::string> errors(count);
  std::atomic<std::uint64_t> done{0};
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  Clock::time_point deadline;
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < count; ++i) {
    threads.emplace_back([&, i] {
      std::string& error = errors[i];
      UniqueFd fd = ConnectLoopback(port, kShortTimeoutMs, &error);
      std::string request(static_cast<std::size_t>(size), 'q');
      request[0] = kEchoMode;
      std::string reply(request.size(), '\0');
      auto exchange = [&] {
        return WriteAll(fd.get(), request.data(), request.size()) &&
               ReadExactly(fd.get(), reply.data(), reply.size()) && reply == request;
      };
      bool up = fd.valid();
      for (int w = 0; up && w < kWarmUp; ++w) up = exchange();
      if (!up && error.empty()) error = "exchanges: session not established";
      ready.fetch_add(1);
      while (!go.load()) std::this_thread::yield();
      if (!up) return;
      samples[i].reserve(kSamplesPerConnection);
      request[0] = 'q';  // the mode byte went first; the rest are plain requests
      while (Clock::now() < deadline) {
        const Clock::time_point start = Clock::now();
        if (!exchange()) {
          error = "exchanges: connection failed";
          return;
        }
        done.fetch_add(1, std::memory_order_relaxed);
        if (samples[i].size() < kSamplesPerConnection) {
          samples[i].push_back(
              std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
      }
    });
  }
  while (ready.load() < connections) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const Clock::time_point start = Clock::now();
  deadline =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  go.store(true);
  for (std::thread& thread : threads) thread.join();
  result.seconds = SecondsSince(start);
  result.exchanges = done.load();
  for (std::size_t i = 0; i < count; ++i) {
    if (!errors[i].empty()) {
      result.error = errors[i];
      return result;
    }
    result.round_trips_us.insert(result.round_trips_us.end(), samples[i].begin(), samples[i].end());
  }
  result.ok = result.exchanges > 0;
  if (!result.ok) result.error = "exchanges: none completed";
  return result;
}

bool IdleSessions::Open(int port, int count, std::string* error) {
  sessions_.reserve(sessions_.size() + static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    UniqueFd fd = ConnectLoopback(port, 10'000, error);
    if (!fd.valid()) return false;
    char byte = kEchoMode;
    if (!WriteAll(fd.get(), &byte, 1) || !ReadExactly(fd.get(), &byte, 1) || byte != kEchoMode) {
      if (error != nullptr) *error = "session " + std::to_string(i) + " got no echo";
      return false;
    }
    sessions_.push_back(std::move(fd));
  }
  return true;
}

}  // namespace portwick::bench

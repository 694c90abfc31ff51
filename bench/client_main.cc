// The client side of the benchmark, one measurement per invocation. Prints
// its figure(s) on one line of standard output; diagnostics and failures go
// to standard error with exit code 1.
//
//   upload|download --port=P [--connections=1] [--mib=1024]   -> MiB/s
//   pingpong --port=P [--iterations=20000] [--warmup=500] [--seconds=3]
//                                                             -> p50_us p99_us
//   connrate --port=P [--clients=1] [--seconds=2] [--max=100000] -> conn/s slowest_ms
//   exchanges --port=P [--connections=8] [--size=64] [--seconds=1.5] -> exchanges/s p99_us
//   idle --port=P --pid=PID [--sessions=1000] [--tree] [--threads]
//                                                  -> KiB per session [threads per session]
//   usage --pid=PID [--tree]          -> rss_kib peak_rss_kib threads fds processes
//   settle --pid=PID --threads=T --fds=F [--seconds=10] [--tree] -> threads fds
//   waitlisten --port=P [--seconds=10]
//   appendfile --path=F [--mib=1024] [--chunk=10384]          -> MiB/s
//   freeport                                                  -> port
//   addedlatency --port=P --baseline-port=Q [--iterations=200] [--seconds=20]
//                          -> p50_ms p99_ms (round trips through P less Q's median)
//   counted --port=P --bytes=N [--quiet=2]  -> bytes reads largest_read segments end
//   stalledlistener [--seconds=600]  -> "listening PORT", then holds it that long
//   closetime --port=P [--seconds=10]       -> seconds until the forwarder closed it

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "bench/append_speed.h"
#include "bench/condition_probes.h"
#include "bench/flags.h"
#include "bench/load_client.h"
#include "bench/proc_stats.h"
#include "bench/socket_util.h"
#include "bench/stats.h"

namespace portwick::bench {
namespace {

using Clock = std::chrono::steady_clock;

int Fail(const std::string& message) {
  std::fprintf(stderr, "portwick_bench_client: %s\n", message.c_str());
  return 1;
}

// Reads the numeric flags a command needs; the first failure wins.
class Numbers {
 public:
  explicit Numbers(const Flags& flags) : flags_(flags) {}
  double Get(const char* name, double fallback) {
    double value = fallback;
    if (error_.empty() && !flags_.Number(name, fallback, &value, &error_)) value = fallback;
    return value;
  }
  double Required(const char* name) {
    if (error_.empty() && !flags_.Has(name)) error_ = std::string("--") + name + " is required";
    return Get(name, 0);
  }
  const std::string& error() const { return error_; }

 private:
  const Flags& flags_;
  std::string error_;
};

Clock::time_point After(double seconds) {
  return Clock::now() +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

int Bulk(const std::string& command, const Flags& flags) {
  Numbers numbers(flags);
  int port = static_cast<int>(numbers.Required("port"));
  int connections = static_cast<int>(numbers.Get("connections", 1));
  double mib = numbers.Get("mib", 1024);
  if (!numbers.error().empty()) return Fail(numbers.error());
  std::uint64_t bytes = static_cast<std::uint64_t>(mib * 1024 * 1024);
  BulkResult result = command == "upload" ? RunUpload(port, connections, bytes)
                                          : RunDownload(port, connections, bytes);
  if (!result.ok) return Fail(result.error);
  std::printf("%.1f\n", result.MiBPerSecond());
  std::fprintf(stderr, "%s: %llu bytes in %.3f s\n", command.c_str(),
               static_cast<unsigned long long>(result.bytes), result.seconds);
  return 0;
}

int PingPong(const Flags& flags) {
  Numbers numbers(flags);
  int port = static_cast<int>(numbers.Required("port"));
  int iterations = static_cast<int>(numbers.Get("iterations", 20000));
  int warm_up = static_cast<int>(numbers.Get("warmup", 500));
  double seconds = numbers.Get("seconds", 3);
  if (!numbers.error().empty()) return Fail(numbers.error());
  LatencyResult result = RunPingPong(port, warm_up, iterations, seconds);
  if (!result.ok) return Fail(result.error);
  std::printf("%.1f %.1f\n", Percentile(result.round_trips_us, 50),
              Percentile(result.round_trips_us, 99));
  std::fprintf(stderr, "pingpong: %zu round trips\n", result.round_trips_us.size());
  return 0;
}

int ConnRate(const Flags& flags) {
  Numbers numbers(flags);
  int port = static_cast<int>(numbers.Required("port"));
  int clients = static_cast<int>(numbers.Get("clients", 1));
  double seconds = numbers.Get("seconds", 2);
  double max = numbers.Get("max", 100000);
  if (!numbers.error().empty()) return Fail(numbers.error());
  RateResult result = RunConnectionRate(port, clients, seconds, static_cast<std::uint64_t>(max));
  if (!result.ok) return Fail(result.error);
  std::printf("%.0f %.2f\n", result.PerSecond(), result.slowest_ms);
  std::fprintf(stderr, "connrate: %llu cycles, %llu failed, %.3f s\n",
               static_cast<unsigned long long>(result.connections),
               static_cast<unsigned long long>(result.failures), result.seconds);
  return 0;
}

int Exchanges(const Flags& flags) {
  Numbers numbers(flags);
  int port = static_cast<int>(numbers.Required("port"));
  int connections = static_cast<int>(numbers.Get("connections", 8));
  int size = static_cast<int>(numbers.Get("size", 64));
  double seconds = numbers.Get("seconds", 1.5);
  if (!numbers.error().empty()) return Fail(numbers.error());
  ExchangeResult result = RunExchanges(port, connections, size, seconds);
  if (!result.ok) return Fail(result.error);
  std::printf("%.0f %.1f\n", result.PerSecond(), Percentile(result.round_trips_us, 99));
  std::fprintf(stderr, "exchanges: %llu on %d connections in %.3f s\n",
               static_cast<unsigned long long>(result.exchanges), connections, result.seconds);
  return 0;
}

int Idle(const Flags& flags) {
  Numbers numbers(flags);
  int port = static_cast<int>(numbers.Required("port"));
  pid_t pid = static_cast<pid_t>(numbers.Required("pid"));
  int sessions = static_cast<int>(numbers.Get("sessions", 1000));
  if (!numbers.error().empty()) return Fail(numbers.error());
  if (sessions < 1) return Fail("--sessions must be at least 1");
  bool tree = flags.Has("tree");
  ProcessUsage before, during;
  if (!ReadProcessUsage(pid, tree, &before)) return Fail("no process " + std::to_string(pid));
  IdleSessions idle;
  std::string error;
  if (!idle.Open(port, sessions, &error)) return Fail(error);
  // Every session answered its echo, so the forwarder has set all of them up.
  if (!ReadProcessUsage(pid, tree, &during))
    return Fail("process " + std::to_string(pid) + " vanished");
  idle.Close();
  std::printf("%.1f", static_cast<double>(during.rss_kib - before.rss_kib) / sessions);
  if (flags.Has("threads"))
    std::printf(" %.3f", static_cast<double>(during.threads - before.threads) / sessions);
  std::printf("\n");
  std::fprintf(stderr, "idle: %d sessions, RSS %ld -> %ld KiB, threads %d -> %d, fds %d -> %d\n",
               sessions, before.rss_kib, during.rss_kib, before.threads, during.threads, before.fds,
               during.fds);
  return 0;
}

int Usage(const Flags& flags) {
  Numbers numbers(flags);
  pid_t pid = static_cast<pid_t>(numbers.Required("pid"));
  if (!numbers.error().empty()) return Fail(numbers.error());
  ProcessUsage usage;
  if (!ReadProcessUsage(pid, flags.Has("tree"), &usage))
    return Fail("no process " + std::to_string(pid));
  std::printf("%ld %ld %d %d %d\n", usage.rss_kib, usage.peak_rss_kib, usage.threads, usage.fds,
              usage.processes);
  return 0;
}

// Waits until the process (tree) is back to at most the given thread and
// descriptor counts, or the deadline passes; prints the last counts seen.
int Settle(const Flags& flags) {
  Numbers numbers(flags);
  pid_t pid = static_cast<pid_t>(numbers.Required("pid"));
  int threads = static_cast<int>(numbers.Required("threads"));
  int fds = static_cast<int>(numbers.Required("fds"));
  double seconds = numbers.Get("seconds", 10);
  if (!numbers.error().empty()) return Fail(numbers.error());
  Clock::time_point deadline = After(seconds);
  ProcessUsage usage;
  for (;;) {
    if (!ReadProcessUsage(pid, flags.Has("tree"), &usage))
      return Fail("no process " + std::to_string(pid));
    if ((usage.threads <= threads && usage.fds <= fds) || Clock::now() > deadline) break;
    Pause();
  }
  std::printf("%d %d\n", usage.threads, usage.fds);
  return 0;
}

int WaitListen(const Flags& flags) {
  Numbers numbers(flags);
  int port = static_cast<int>(numbers.Required("port"));
  double seconds = numbers.Get("seconds", 10);
  if (!numbers.error().empty()) return Fail(numbers.error());
  for (Clock::time_point deadline = After(seconds); !IsPortListening(port); Pause()) {
    if (Clock::now() > deadline) return Fail("nothing listens on port " + std::to_string(port));
  }
  return 0;
}

int AppendFile(const Flags& flags) {
  Numbers numbers(flags);
  double mib = numbers.Get("mib", 1024);
  std::size_t chunk = static_cast<std::size_t>(numbers.Get("chunk", 10384));
  if (!numbers.error().empty()) return Fail(numbers.error());
  if (!flags.Has("path")) return Fail("--path is required");
  std::uint64_t bytes = static_cast<std::uint64_t>(mib * 1024 * 1024);
  AppendResult result = TimeAppends(flags.String("path", ""), bytes, chunk);
  if (!result.ok) return Fail(result.error);
  std::printf("%.1f\n", result.MiBPerSecond(bytes));
  return 0;
}

// The latency a forwarder's delay adds: round trips through `port` less the
// median round trip through `baseline-port` (the same forwarder without it).
int AddedLatency(const Flags& flags) {
  Numbers numbers(flags);
  int port = static_cast<int>(numbers.Required("port"));
  int baseline_port = static_cast<int>(numbers.Required("baseline-port"));
  int iterations = static_cast<int>(numbers.Get("iterations", 200));
  double seconds = numbers.Get("seconds", 20);
  if (!numbers.error().empty()) return Fail(numbers.error());
  LatencyResult baseline = RunPingPong(baseline_port, 500, 5000, 2);
  if (!baseline.ok) return Fail(baseline.error);
  LatencyResult delayed = RunPingPong(port, 5, iterations, seconds);
  if (!delayed.ok) return Fail(delayed.error);
  const double base = Percentile(baseline.round_trips_us, 50);
  std::printf("%.3f %.3f\n", (Percentile(delayed.round_trips_us, 50) - base) / 1000,
              (Percentile(delayed.round_trips_us, 99) - base) / 1000);
  std::fprintf(stderr, "addedlatency: %zu round trips, baseline %.1f us\n",
               delayed.round_trips_us.size(), base);
  return 0;
}

const char* EndWord(DownloadEnd end) {
  switch (end) {
    case DownloadEnd::kComplete:
      return "complete";
    case DownloadEnd::kEndOfStream:
      return "fin";
    case DownloadEnd::kReset:
      return "reset";
    case DownloadEnd::kTimeout:
      return "timeout";
    case DownloadEnd::kFailed:
      break;
  }
  return "failed";
}

int Counted(const Flags& flags) {
  Numbers numbers(flags);
  int port = static_cast<int>(numbers.Required("port"));
  double bytes = numbers.Required("bytes");
  double quiet = numbers.Get("quiet", 2);
  if (!numbers.error().empty()) return Fail(numbers.error());
  CountedDownload result = RunCountedDownload(port, static_cast<std::uint64_t>(bytes), quiet);
  if (!result.error.empty()) return Fail(result.error);
  std::printf("%llu %llu %llu %llu %s\n", static_cast<unsigned long long>(result.bytes),
              static_cast<unsigned long long>(result.reads),
              static_cast<unsigned long long>(result.largest),
              static_cast<unsigned long long>(result.segments), EndWord(result.end));
  return 0;
}

int HoldStalledListener(const Flags& flags) {
  Numbers numbers(flags);
  double seconds = numbers.Get("seconds", 600);
  if (!numbers.error().empty()) return Fail(numbers.error());
  StalledListener listener;
  std::string error;
  int port = listener.Open(&error);
  if (port == 0) return Fail(error);
  std::printf("listening %d\n", port);
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  return 0;
}

int CloseTime(const Flags& flags) {
  Numbers numbers(flags);
  int port = static_cast<int>(numbers.Required("port"));
  double seconds = numbers.Get("seconds", 10);
  if (!numbers.error().empty()) return Fail(numbers.error());
  std::string error;
  double took = SecondsUntilClosed(port, seconds, &error);
  if (took < 0) return Fail(error);
  std::printf("%.3f\n", took);
  return 0;
}

int Main(int argc, char** argv) {
  if (argc < 2)
    return Fail("usage: portwick_bench_client COMMAND [--flag=value...] (see client_main.cc)");
  std::string command = argv[1];
  Flags flags;
  std::string error;
  if (!flags.Parse(argc, argv, 2, &error)) return Fail(error);
  if (command == "upload" || command == "download") return Bulk(command, flags);
  if (command == "pingpong") return PingPong(flags);
  if (command == "exchanges") return Exchanges(flags);
  if (command == "connrate") return ConnRate(flags);
  if (command == "idle") return Idle(flags);
  if (command == "usage") return Usage(flags);
  if (command == "settle") return Settle(flags);
  if (command == "waitlisten") return WaitListen(flags);
  if (command == "appendfile") return AppendFile(flags);
  if (command == "addedlatency") return AddedLatency(flags);
  if (command == "counted") return Counted(flags);
  if (command == "stalledlistener") return HoldStalledListener(flags);
  if (command == "closetime") return CloseTime(flags);
  if (command == "freeport") {
    int port = PickFreePort();
    if (port <= 0) return Fail("no free port");
    std::printf("%d\n", port);
    return 0;
  }
  return Fail("unknown command \"" + command + "\"");
}

}  // namespace
}  // namespace portwick::bench

int main(int argc, char** argv) { return portwick::bench::Main(argc, argv); }

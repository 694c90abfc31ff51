// The load server of the benchmark: serves the protocol of load_protocol.h on
// 127.0.0.1 until SIGINT or SIGTERM. Prints "listening PORT" once it listens.
//
//   portwick_bench_server [--port=P]   (0 or absent: any free port)

#include <signal.h>

#include <cstdio>
#include <string>
#include <thread>

#include "bench/flags.h"
#include "bench/load_server.h"

int main(int argc, char** argv) {
  using portwick::bench::Flags;
  using portwick::bench::LoadServer;
  Flags flags;
  std::string error;
  double port = 0;
  if (!flags.Parse(argc, argv, 1, &error) || !flags.Number("port", 0, &port, &error)) {
    std::fprintf(stderr, "portwick_bench_server: %s\n", error.c_str());
    return 1;
  }
  // Block the stop signals before any thread exists; the main thread takes
  // them with sigwait.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  LoadServer server;
  if (!server.Open(static_cast<int>(port), &error)) {
    std::fprintf(stderr, "portwick_bench_server: %s\n", error.c_str());
    return 1;
  }
  std::printf("listening %d\n", server.port());
  std::fflush(stdout);
  std::thread serving([&server] { server.Run(); });
  int received = 0;
  sigwait(&stop_signals, &received);
  server.Shutdown();
  serving.join();
  return 0;
}

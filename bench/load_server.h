#ifndef PORTWICK_BENCH_LOAD_SERVER_H_
#define PORTWICK_BENCH_LOAD_SERVER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "bench/socket_util.h"

namespace portwick::bench {

// The far end of every measurement: a single-threaded epoll server on
// 127.0.0.1 speaking the protocol of load_protocol.h (echo, sink, source,
// chosen by each connection's first byte).
//
// Open and Run are called by the owner; Run blocks on the calling thread until
// Shutdown, which any thread may call (also before Run starts). The server
// closes every connection when Run returns.
class LoadServer {
 public:
  LoadServer();
  LoadServer(const LoadServer&) = delete;
  LoadServer& operator=(const LoadServer&) = delete;
  ~LoadServer();

  // Listens on 127.0.0.1:port (0 = any free port).
  bool Open(int port, std::string* error);
  int port() const { return port_; }

  void Run();
  void Shutdown();

 private:
  struct Connection;

  void AcceptAll();
  void OnReadable(Connection& connection);
  void OnWritable(Connection& connection);
  void ReadMode(Connection& connection);
  void ReadEcho(Connection& connection);
  void ReadSink(Connection& connection);
  void ReadSource(Connection& connection);
  bool Flush(Connection& connection);
  void UpdateInterest(Connection& connection);
  void CloseConnection(int fd);

  UniqueFd listener_;
  UniqueFd epoll_;
  UniqueFd wakeup_;  // eventfd written by Shutdown
  int port_ = 0;
  std::unordered_map<int, std::unique_ptr<Connection>> connections_;
  std::unique_ptr<char[]> scratch_;  // receive buffer shared by all connections
  std::unique_ptr<char[]> pattern_;  // what source connections send
};

}  // namespace portwick::bench

#endif  // PORTWICK_BENCH_LOAD_SERVER_H_

#ifndef PORTWICK_TESTS_APP_TCP_PEER_H_
#define PORTWICK_TESTS_APP_TCP_PEER_H_

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace portwick::testing {

// A destination for the forwarder: listens on 127.0.0.1 (::1 with `ipv6`;
// port() stays 0 where that can't be had) at an ephemeral port
// and serves each accepted connection on a thread of its own, echoing what it
// receives (or only counting it). Records how each connection ended.
// The destructor wakes and joins every thread. One test thread drives it.
class TcpPeerServer {
 public:
  enum class Mode { kEcho, kDiscard };
  enum class Ending { kOpen, kClosed, kReset };

  explicit TcpPeerServer(Mode mode, bool ipv6 = false);
  TcpPeerServer(const TcpPeerServer&) = delete;
  TcpPeerServer& operator=(const TcpPeerServer&) = delete;
  ~TcpPeerServer();

  int port() const { return port_; }

  // Waits until `count` bytes in all have arrived; false on time-out.
  bool WaitForBytes(size_t count, std::chrono::milliseconds timeout);
  // Waits until connection `index` (in accept order) has ended; its ending.
  Ending WaitForEnding(size_t index, std::chrono::milliseconds timeout);

 private:
  void AcceptLoop();
  void Serve(size_t index, int fd);

  const Mode mode_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::thread accept_thread_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  size_t bytes_ = 0;
  std::vector<int> fds_;
  std::vector<Ending> endings_;
  std::vector<std::thread> threads_;
};

// A blocking client socket to 127.0.0.1 (::1 with `ipv6`) with receive time-outs.
class TcpClient {
 public:
  TcpClient() = default;
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;
  ~TcpClient();

  bool Connect(int port, bool ipv6 = false);
  bool SendAll(const std::string& data);
  // Reads exactly `size` bytes unless the connection ends or `timeout` passes.
  std::string Receive(size_t size, std::chrono::milliseconds timeout);
  // Reads until the connection ends; returns how it ended (kOpen on time-out).
  TcpPeerServer::Ending WaitForEnd(std::chrono::milliseconds timeout);

 private:
  int fd_ = -1;
};

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_APP_TCP_PEER_H_

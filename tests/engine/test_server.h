#ifndef PORTWICK_TESTS_ENGINE_TEST_SERVER_H_
#define PORTWICK_TESTS_ENGINE_TEST_SERVER_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/endpoint.h"
#include "engine/socket.h"
#include "socket_probes.h"

// Loopback servers and client helpers for tests that drive real sockets.
// Everything binds 127.0.0.1 on an ephemeral port; every wait has a deadline.
namespace portwick::testing {

// Generous upper bound for anything a test waits for; sanitizer builds on a
// busy machine can be slow, and a passing test never waits this long.
inline constexpr std::chrono::milliseconds kDeadline{15000};

// How a read loop ended.
enum class StreamEnd { kOpen, kEof, kReset, kError, kTimeout };

struct ReadResult {
  std::string data;
  StreamEnd end = StreamEnd::kOpen;
};

// A client socket connected to 127.0.0.1:port; invalid when that fails.
Socket ConnectLoopback(int port);
// A client socket connected to `endpoint`; invalid when that fails.
Socket ConnectTo(const Endpoint& endpoint);

// True when the machine can listen on ::1 (it has IPv6 on loopback).
bool HasIPv6Loopback();

// A fresh TCP socket bound to 127.0.0.1 on an ephemeral port and not
// listening: connecting to its port is refused while it stays open.
Socket BoundButNotListening(int* port);

// A listening socket on 127.0.0.1 whose accept queue is full and never
// drained: a further connect to `*port` stays blocked (its SYN is dropped)
// until the connecting side gives up. `fillers` keeps the connections that
// fill the queue. Invalid when the queue couldn't be filled.
Socket StalledListener(int* port, std::vector<Socket>* fillers);

// A connected pair of TCP sockets over loopback.
struct TcpPair {
  Socket near;
  Socket far;
};
TcpPair MakeTcpPair();

bool SendBytes(SocketHandle fd, std::string_view data);

// Reads until `count` bytes have come (never more), the stream ends, or the
// deadline.
ReadResult ReadExactly(SocketHandle fd, size_t count,
                       std::chrono::milliseconds deadline = kDeadline);
// Reads until the stream ends (end-of-stream or error) or the deadline.
ReadResult ReadUntilEnd(SocketHandle fd, std::chrono::milliseconds deadline = kDeadline);
// Sends `bytes` on `from`, then reads as many from `to` (the same socket for
// an echo): what came, less than `bytes` when the send failed or the stream
// ended or the deadline passed first.
std::string SendAndRead(SocketHandle from, SocketHandle to, std::string_view bytes,
                        std::chrono::milliseconds deadline = kDeadline);

// Polls `condition` until it holds or the deadline passes; returns its last
// value. For state that has no other way to be waited on.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = kDeadline);

// Bytes that exercise every byte value, zero included, in a pattern that
// doesn't repeat within a buffer.
std::string PatternBytes(size_t count, unsigned seed = 1);

// Listens on 127.0.0.1:0 (or `bind`) and accepts on a thread of its own. Without a
// handler, accepted sockets queue up for WaitAccept; with one, each accepted
// connection runs the handler on a thread of its own. The destructor shuts
// down every connection (waking handlers), joins all threads and closes
// every socket.
class TestServer {
 public:
  using Handler = std::function<void(SocketHandle fd)>;

  explicit TestServer(Handler handler = nullptr, int backlog = 64,
                      const Endpoint& bind = Endpoint::LoopbackIPv4(0));
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;
  ~TestServer();

  int port() const { return port_; }
  SocketHandle listen_fd() const { return listen_.fd(); }

  // The next accepted connection, or an invalid socket at the deadline.
  // Only for a server without a handler.
  Socket WaitAccept(std::chrono::milliseconds deadline = kDeadline);

  // Connections accepted so far.
  int accepted() const;

 private:
  void AcceptLoop();

  Handler handler_;
  Socket listen_;
  int port_ = 0;
  std::thread accept_thread_;

  mutable std::mutex mutex_;
  std::condition_variable accepted_cv_;
  bool stopping_ = false;
  bool accept_ended_ = false;  // the accept thread has returned
  int accepted_count_ = 0;
  std::deque<Socket> queue_;
  std::vector<Socket> handled_;
  std::vector<std::thread> handler_threads_;
};

// Echoes every byte back; when the client ends its stream, ends its own
// after the last byte (a half-close round trip).
void EchoHandler(SocketHandle fd);

// A destination that serves each connection on a thread of its own: with
// kEcho it sends every byte back, with kDiscard it only reads. It counts the
// bytes that came and records how each connection ended (kEof or kReset).
// Listens on 127.0.0.1 (or `bind`); port() is 0 when that failed. The
// destructor ends every connection and joins every thread.
class PeerServer {
 public:
  enum class Mode { kEcho, kDiscard };

  explicit PeerServer(Mode mode, const Endpoint& bind = Endpoint::LoopbackIPv4(0));

  int port() const { return server_.port(); }
  // "127.0.0.1:<port>".
  std::string Address() const { return "127.0.0.1:" + std::to_string(port()); }

  // Waits until `count` bytes in all have come; false at the deadline.
  bool WaitForBytes(size_t count, std::chrono::milliseconds deadline = kDeadline);
  // How the first connection to end ended; kTimeout when none ended in time.
  StreamEnd WaitForFirstEnd(std::chrono::milliseconds deadline = kDeadline);

 private:
  void Serve(SocketHandle fd);

  const Mode mode_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t bytes_ = 0;
  std::vector<StreamEnd> ends_;
  TestServer server_;  // last: its threads are gone before what they record
};

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_ENGINE_TEST_SERVER_H_

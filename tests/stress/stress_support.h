#ifndef PORTWICK_TESTS_STRESS_STRESS_SUPPORT_H_
#define PORTWICK_TESTS_STRESS_STRESS_SUPPORT_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "child_process.h"
#include "engine/socket.h"
#include "read_file.h"
#include "test_server.h"

// Loopback peers, byte streams that can be recognised wherever they end up,
// and the figures the fault suite prints.
namespace portwick::stress {

inline constexpr std::chrono::seconds kDeadline{30};

// How much longer than the default the suite runs: PORTWICK_STRESS_SOAK=N
// multiplies the sizes and rounds by N (1 when unset).
int SoakFactor();

// A session's bytes in one direction: the stream's 8-byte id (little
// endian) followed by pseudo-random bytes derived from the id, any byte value
// included. Any stretch can be made from its offset, so a stream is
// recognised in a log without being kept.
class Stream {
 public:
  explicit Stream(uint64_t id) : id_(id) {}
  uint64_t id() const { return id_; }
  uint8_t At(uint64_t offset) const;
  std::string Bytes(uint64_t offset, size_t count) const;

 private:
  uint64_t id_;
};

// The destination answers each byte with EchoOf(byte); replies are checked
// and recognised in a log through it.
inline uint8_t EchoOf(uint8_t byte) { return static_cast<uint8_t>(byte ^ 0x5A); }

// The destination: accepts on 127.0.0.1 and serves each connection on a
// thread of its own, the way `behaviour` says. It checks that every byte
// that arrives is the next byte of the sending client's stream (the id comes
// first) and counts what each stream delivered.
class Destination {
 public:
  enum class Behaviour {
    kEcho,        // answers each byte with EchoOf(byte)
    kDiscard,     // reads and checks, answers nothing
    kNeverRead,   // accepts and never reads
    kResetAfter,  // reads `reset_after` bytes, then resets the connection
  };

  explicit Destination(Behaviour behaviour, size_t reset_after = 0);

  int port() const { return server_.port(); }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port()); }

  // Bytes received per stream id; connections still open included.
  std::map<uint64_t, uint64_t> Received() const;
  uint64_t TotalReceived() const;
  // Bytes that were not the next byte of their stream.
  uint64_t Mismatches() const { return mismatches_; }
  bool WaitForTotal(uint64_t bytes, std::chrono::milliseconds timeout = kDeadline) const;

 private:
  void Serve(SocketHandle fd);

  const Behaviour behaviour_;
  const size_t reset_after_;
  std::atomic<uint64_t> mismatches_{0};
  mutable std::mutex mutex_;
  std::map<uint64_t, uint64_t> received_;
  testing::TestServer server_;  // last: its threads are gone before what they record
};

// A client connection to 127.0.0.1:port (blocking, close-on-exec). Movable.
class Client {
 public:
  Client() = default;
  explicit Client(int port) : socket_(testing::ConnectLoopback(port)) {}

  bool connected() const { return socket_.valid(); }
  SocketHandle fd() const { return socket_.fd(); }
  // Sends `count` bytes of `stream` from `offset`; false when the
  // connection failed.
  bool Send(const Stream& stream, uint64_t offset, size_t count);
  // Reads `count` bytes and checks they are EchoOf the stream's bytes from
  // `offset`; false on a mismatch, the end of the connection or the deadline.
  bool ReceiveEcho(const Stream& stream, uint64_t offset, size_t count,
                   std::chrono::milliseconds timeout = kDeadline);
  // Waits until the peer ends the connection (end of stream, reset or error);
  // false at the deadline.
  bool WaitForEnd(std::chrono::milliseconds timeout = kDeadline);
  void Reset();  // closes with a reset
  void Close() { socket_.Reset(); }

 private:
  Socket socket_;
};

// One portwick --console child. Start() waits for its "forwarding" line.
class Portwick {
 public:
  struct Options {
    std::vector<std::string> args;  // after --console --source=0 --destination=...
    int descriptor_limit = 0;
  };
  Portwick(const std::string& destination, const Options& options);
  bool started() const { return port_ > 0; }
  int port() const { return port_; }
  testing::ChildProcess& child() { return *child_; }
  // Signals the child and returns its exit code (-1 when killed or late).
  int Stop(int signal_number, std::chrono::milliseconds timeout = kDeadline);
  std::string StandardError();

 private:
  std::unique_ptr<testing::ChildProcess> child_;
  int port_ = 0;
};

using testing::ReadFile;

// A log holds the records of many sessions back to back, each record a
// stretch of one stream. LogCheck takes the log apart again: stretch after
// stretch, it finds the stream whose next bytes these are. Streams are the
// client streams (`up`) and their replies (EchoOf each byte, `down`).
struct LogCheck {
  uint64_t bytes_explained = 0;              // belonging, in order, to a stream
  uint64_t bytes_unexplained = 0;            // corrupted, duplicated, torn or foreign
  std::map<uint64_t, uint64_t> up_logged;    // stream id -> bytes logged in order
  std::map<uint64_t, uint64_t> down_logged;  // stream id -> reply bytes logged in order
};
LogCheck CheckLog(std::string_view log, const std::vector<uint64_t>& stream_ids);

// What the suite has checked, printed when the program ends:
//   stress: <sessions> sessions, <bytes> bytes checked, <lost> bytes lost
class Figures {
 public:
  static void Add(uint64_t sessions, uint64_t bytes_checked, uint64_t bytes_lost);
  static std::string Text();
};

}  // namespace portwick::stress

#endif  // PORTWICK_TESTS_STRESS_STRESS_SUPPORT_H_

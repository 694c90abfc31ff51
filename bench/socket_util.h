#ifndef PORTWICK_BENCH_SOCKET_UTIL_H_
#define PORTWICK_BENCH_SOCKET_UTIL_H_

#include <cstddef>
#include <string>

namespace portwick::bench {

// Owns one file descriptor and closes it on destruction. Move-only.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release();
  void Reset();

 private:
  int fd_ = -1;
};

// All helpers below work on 127.0.0.1 only and may be called from any thread.
// On failure they return an invalid descriptor or false and, when `error` is
// given, describe the failure there.

// Blocking TCP connection to 127.0.0.1:port with TCP_NODELAY set. Sends and
// receives give up after `io_timeout_ms` so that a stuck peer cannot hang a
// load run.
UniqueFd ConnectLoopback(int port, int io_timeout_ms, std::string* error);

// Listening socket on 127.0.0.1:port (0 picks a free port), non-blocking when
// `non_blocking` is set.
UniqueFd ListenLoopback(int port, int backlog, bool non_blocking, std::string* error);

// The local port a socket is bound to, or -1.
int LocalPort(int fd);

// Blocking transfers of exactly `size` bytes. False on error, time-out or (for
// ReadExactly) end of stream before `size` bytes.
bool WriteAll(int fd, const void* data, std::size_t size);
bool ReadExactly(int fd, void* data, std::size_t size);

// A free port on 127.0.0.1 at the moment of the call (bind to 0, read, close).
int PickFreePort();

}  // namespace portwick::bench

#endif  // PORTWICK_BENCH_SOCKET_UTIL_H_

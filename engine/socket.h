#ifndef PORTWICK_ENGINE_SOCKET_H_
#define PORTWICK_ENGINE_SOCKET_H_

#include <utility>

#include "base/socket_handle.h"

namespace portwick {

// Owns one socket descriptor and closes it exactly once, in its destructor
// (or in Reset). Movable, not copyable. The owner must make sure no other
// thread uses the descriptor once it is closed: a closed descriptor number is
// reused at once by the next socket or file.
class Socket {
 public:
  Socket() = default;
  explicit Socket(SocketHandle fd) : fd_(fd) {}
  Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, kInvalidSocket)) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, kInvalidSocket));
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { Reset(); }

  bool valid() const { return fd_ >= 0; }
  SocketHandle fd() const { return fd_; }

  // Closes the held descriptor (if any) and takes `fd` instead.
  void Reset(SocketHandle fd = kInvalidSocket);
  // Gives up ownership without closing.
  SocketHandle Release() { return std::exchange(fd_, kInvalidSocket); }

 private:
  SocketHandle fd_ = kInvalidSocket;
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_SOCKET_H_

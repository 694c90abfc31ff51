#ifndef PORTWICK_ENGINE_SOCKET_H_
#define PORTWICK_ENGINE_SOCKET_H_

#include <utility>

namespace portwick {

// Owns one socket descriptor and closes it exactly once, in its destructor
// (or in Reset). Movable, not copyable. The owner must make sure no other
// thread uses the descriptor once it is closed: a closed descriptor number is
// reused at once by the next socket or file.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { Reset(); }

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Closes the held descriptor (if any) and takes `fd` instead.
  void Reset(int fd = -1);
  // Gives up ownership without closing.
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_SOCKET_H_

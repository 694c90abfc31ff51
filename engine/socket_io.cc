#include "engine/socket_io.h"

#include <cerrno>

#include "base/no_destructor.h"
#include "engine/socket_ops.h"

namespace portwick {

namespace {

class PosixSocketIo final : public SocketIo {
 public:
  ssize_t Recv(int fd, char* buffer, size_t length) override {
    return sockets::Recv(fd, buffer, length);
  }
  ssize_t RecvIfReady(int fd, char* buffer, size_t length) override {
    return sockets::RecvIfReady(fd, buffer, length);
  }
  ssize_t Send(int fd, const char* data, size_t length) override {
    return sockets::Send(fd, data, length);
  }
  ssize_t Splice(int from, int to, size_t length) override {
    return sockets::Splice(from, to, length);
  }
};

}  // namespace

int SocketIo::Accept(int listen_fd, Endpoint* peer) { return sockets::Accept(listen_fd, peer); }

ssize_t SocketIo::RecvIfReady(int /*fd*/, char* /*buffer*/, size_t /*length*/) { return -EAGAIN; }

ssize_t SocketIo::Splice(int /*from*/, int /*to*/, size_t /*length*/) { return -EINVAL; }

SocketIo& SocketIo::Default() {
  static NoDestructor<PosixSocketIo> io;
  return *io.get();
}

}  // namespace portwick

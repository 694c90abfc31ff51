#include "engine/socket_io.h"

#include <cerrno>

#include "base/no_destructor.h"
#include "engine/socket_ops.h"

namespace portwick {

namespace {

class PosixSocketIo final : public SocketIo {
 public:
  ssize_t Recv(SocketHandle fd, char* buffer, size_t length) override {
    return sockets::Recv(fd, buffer, length);
  }
  ssize_t RecvIfReady(SocketHandle fd, char* buffer, size_t length) override {
    return sockets::RecvIfReady(fd, buffer, length);
  }
  ssize_t Send(SocketHandle fd, const char* data, size_t length) override {
    return sockets::Send(fd, data, length);
  }
  ssize_t SendPiece(SocketHandle fd, const char* data, size_t length) override {
    return sockets::Send(fd, data, length, /*ends_piece=*/true);
  }
  ssize_t Splice(int from, int to, size_t length) override {
    return sockets::Splice(from, to, length);
  }
};

}  // namespace

SocketHandle SocketIo::Accept(SocketHandle listen_fd, Endpoint* peer) {
  return sockets::Accept(listen_fd, peer);
}

ssize_t SocketIo::RecvIfReady(SocketHandle /*fd*/, char* /*buffer*/, size_t /*length*/) {
  return -EAGAIN;
}

ssize_t SocketIo::SendPiece(SocketHandle fd, const char* data, size_t length) {
  return Send(fd, data, length);
}

ssize_t SocketIo::Splice(int /*from*/, int /*to*/, size_t /*length*/) { return -EINVAL; }

SocketIo& SocketIo::Default() {
  static NoDestructor<PosixSocketIo> io;
  return *io.get();
}

}  // namespace portwick

#include "engine/socket.h"

#include "engine/socket_ops.h"

namespace portwick {

void Socket::Reset(SocketHandle fd) {
  if (fd_ >= 0) sockets::Close(fd_);
  fd_ = fd;
}

}  // namespace portwick

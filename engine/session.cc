#include "engine/session.h"

#include <utility>

#include "engine/socket_ops.h"

namespace portwick {

Session::Session(SocketLayer* layer, Socket client, Socket destination)
    : client_(std::move(client)),
      destination_(std::move(destination)),
      registration_(layer, client_.fd(), destination_.fd()) {}

void Session::EndSending(int fd) { sockets::ShutdownWrite(fd); }

}  // namespace portwick

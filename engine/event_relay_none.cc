// No event relay on this platform (or build): every session starts on its
// connector thread and relays with blocking pumps.
#include "engine/event_relay.h"
#include "engine/socket_ops.h"

namespace portwick::event_relay {

bool TakesSessions(const std::string& /*host*/, const SocketIo* /*io*/,
                   const NameResolver* /*resolver*/) {
  return false;
}

SocketHandle CreateReservedSocket(bool /*for_event_relay*/) {
  return sockets::CreateTcpSocket(Endpoint::Family::kIPv4);
}

bool StartSession(std::unique_ptr<SessionRequest>& /*request*/) { return false; }

bool RelayConnected(const std::shared_ptr<Session>& /*session*/, const RelayNeeds& /*needs*/) {
  return false;
}

}  // namespace portwick::event_relay

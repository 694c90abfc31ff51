// No event relay on this platform (or build): every session starts on its
// connector thread and relays with blocking pumps.
#include "engine/event_relay.h"

namespace portwick::event_relay {

bool StartSession(std::unique_ptr<SessionRequest>& /*request*/) { return false; }

bool RelayConnected(const std::shared_ptr<Session>& /*session*/, const RelayNeeds& /*needs*/) {
  return false;
}

}  // namespace portwick::event_relay

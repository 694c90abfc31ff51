#include "ui/framework/command_map.h"

#include <utility>

namespace portwick {

void CommandMap::On(int command_id, Handler handler) {
  if (handler) {
    handlers_[command_id] = std::move(handler);
  } else {
    handlers_.erase(command_id);
  }
}

bool CommandMap::Contains(int command_id) const { return handlers_.count(command_id) != 0; }

bool CommandMap::Dispatch(int command_id) const {
  auto it = handlers_.find(command_id);
  if (it == handlers_.end()) return false;
  // The handler may change this map or destroy its owner; run a copy.
  Handler handler = it->second;
  handler();
  return true;
}

}  // namespace portwick

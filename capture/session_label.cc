#include "capture/session_label.h"

namespace portwick {

std::string SessionLabel(SessionId id) {
  const uint32_t forward = ForwardOf(id);
  std::string number = std::to_string(NumberOf(id));
  return forward == 0 ? number : std::to_string(forward) + "." + number;
}

}  // namespace portwick

#include "capture/session_label.h"

namespace portwick {

std::string SessionLabel(ForwardNumber forward, SessionId number) {
  std::string text = std::to_string(number);
  return forward == 0 ? text : std::to_string(forward) + "." + text;
}

}  // namespace portwick

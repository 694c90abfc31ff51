#include "base/windows/sockaddr.h"

namespace portwick {

void KeepWinsockStarted() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

}  // namespace portwick

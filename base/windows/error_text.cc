// ErrorText (base/status.h) on Windows: the system's Winsock message for the
// socket errors (the C runtime knows no text for ECONNRESET and the like),
// else the runtime's strerror_s, which, unlike strerror, is safe on any
// thread.
#include <cstring>
#include <string>

#include "base/status.h"
#include "base/windows/winsock_errors.h"

namespace portwick {

std::string ErrorText(int error_number) {
  if (error_number < 0) error_number = -error_number;
  // The runtime's own texts cover the classic numbers (below 100); the
  // socket ones above come from Winsock.
  if (const int wsa = WinsockFromErrno(error_number); wsa != 0 && error_number >= 100) {
    std::string message = WinsockMessage(wsa);
    if (!message.empty()) return message;
  }
  char buffer[256];
  if (strerror_s(buffer, sizeof buffer, error_number) != 0)
    return "error " + std::to_string(error_number);
  return buffer;
}

}  // namespace portwick

// ErrorText (base/status.h) on Windows: the C runtime's strerror_s, which,
// unlike strerror, is safe on any thread.
#include <cstring>
#include <string>

#include "base/status.h"

namespace portwick {

std::string ErrorText(int error_number) {
  if (error_number < 0) error_number = -error_number;
  char buffer[256];
  if (strerror_s(buffer, sizeof buffer, error_number) != 0)
    return "error " + std::to_string(error_number);
  return buffer;
}

}  // namespace portwick

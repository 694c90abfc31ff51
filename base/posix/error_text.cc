#include <cstring>
#include <string>

#include "base/status.h"

namespace portwick {

std::string ErrorText(int error_number) {
  if (error_number < 0) error_number = -error_number;
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be `buffer`.
  return strerror_r(error_number, buffer, sizeof buffer);
}

}  // namespace portwick

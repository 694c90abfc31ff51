#include "base/local_time.h"

namespace portwick {

std::tm LocalTime(std::time_t seconds) {
  // localtime_s is the runtime's thread-safe form (arguments the other way
  // round from C11's).
  std::tm local{};
  if (localtime_s(&local, &seconds) != 0) return std::tm{};
  return local;
}

}  // namespace portwick

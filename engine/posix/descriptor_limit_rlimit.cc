#include <sys/resource.h>

#include <cerrno>
#include <climits>

#include "engine/descriptor_limit.h"

// The descriptor limit as POSIX states it: RLIMIT_NOFILE.
namespace portwick::descriptor_limit {

long RaiseToHardLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return -errno;
  if (limit.rlim_cur != limit.rlim_max) {
    const rlim_t soft = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) limit.rlim_cur = soft;
  }
  return limit.rlim_cur == RLIM_INFINITY ? LONG_MAX : static_cast<long>(limit.rlim_cur);
}

long Current() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return -errno;
  return limit.rlim_cur == RLIM_INFINITY ? LONG_MAX : static_cast<long>(limit.rlim_cur);
}

}  // namespace portwick::descriptor_limit

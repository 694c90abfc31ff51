#include "base/write_fully.h"

#include <unistd.h>

#include <cerrno>

namespace portwick {

int WriteFully(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    // write(2) returns 0 only for a zero count; treat it as a device that
    // takes nothing rather than loop for ever.
    if (n == 0) return -EIO;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace portwick

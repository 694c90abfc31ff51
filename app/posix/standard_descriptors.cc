#include "app/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace portwick {

bool EnsureStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // open returns the lowest free number, which is `fd` itself: every
    // lower one is open by now. No O_CLOEXEC: children get them as well.
    int opened;
    do {
      opened = open("/dev/null", O_RDWR);
    } while (opened < 0 && errno == EINTR);
    if (opened != fd) {
      if (opened >= 0) close(opened);
      return false;
    }
  }
  return true;
}

}  // namespace portwick

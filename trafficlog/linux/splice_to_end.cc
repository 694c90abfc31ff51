#include "trafficlog/linux/splice_to_end.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace portwick {

ssize_t SpliceToFileEnd(int fd, int pipe_fd, size_t length) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return -1;
  // An append-only file keeps its O_APPEND: write it by copying instead.
  if (::fcntl(fd, F_SETFL, flags & ~O_APPEND) < 0) {
    errno = EINVAL;
    return -1;
  }
  ssize_t moved = -1;
  // The end as it is now: another process (or a truncation) may have moved
  // it. A FIFO has none; its records are queued instead, so that a reader
  // that stalls blocks the sink's worker before the relays.
  if (::lseek(fd, 0, SEEK_END) >= 0) {
    moved = ::splice(pipe_fd, nullptr, fd, nullptr, length, SPLICE_F_MOVE);
  } else if (errno == ESPIPE) {
    errno = EINVAL;
  }
  const int error = errno;
  ::fcntl(fd, F_SETFL, flags);
  errno = error;
  return moved;
}

}  // namespace portwick

#include "capture/capture_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace portwick {

CaptureFile::~CaptureFile() {
  if (fd_ >= 0) close(fd_);
  if (abandon_fd_ >= 0) close(abandon_fd_);
}

int CaptureFile::Open(const std::string& path) {
  do {
    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0600);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) return -errno;
  abandon_fd_ = eventfd(0, EFD_CLOEXEC);
  if (abandon_fd_ < 0) return -errno;
  return 0;
}

int CaptureFile::WriteAll(const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd_, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return -EIO;  // takes nothing; don't loop for ever
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return -errno;
    pollfd waits[2] = {{fd_, POLLOUT, 0}, {abandon_fd_, POLLIN, 0}};
    if (poll(waits, 2, -1) < 0 && errno != EINTR) return -errno;
    if (waits[1].revents != 0) return -ECANCELED;
  }
  return 0;
}

void CaptureFile::TruncateTo(uint64_t length) {
  [[maybe_unused]] const int cut = ftruncate(fd_, static_cast<off_t>(length));
}

void CaptureFile::Abandon() {
  if (abandon_fd_ < 0) return;
  const uint64_t one = 1;
  // Can't fail short of a counter at its maximum, which one is far from.
  [[maybe_unused]] const ssize_t n = write(abandon_fd_, &one, sizeof one);
}

}  // namespace portwick

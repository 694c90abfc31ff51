#include "trafficlog/log_file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "base/no_destructor.h"
#include "trafficlog/linux/splice_to_end.h"

namespace portwick {

// WriteVector passes WritePiece arrays to writev unchanged.
static_assert(sizeof(WritePiece) == sizeof(iovec) &&
              offsetof(WritePiece, data) == offsetof(iovec, iov_base) &&
              offsetof(WritePiece, length) == offsetof(iovec, iov_len));

namespace {

class PosixLogFileAccess final : public LogFileAccess {
 public:
  int OpenForAppend(const std::string& name) override {
    if (name.empty()) {
      errno = ENOENT;
      return -1;
    }
    // O_NONBLOCK so that opening a FIFO nobody reads fails instead of
    // waiting for a reader; the writes that follow block as usual.
    int fd;
    do {
      fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return -1;
    }
    return fd;
  }

  ssize_t Write(int fd, const char* data, size_t length) override {
    return ::write(fd, data, length);
  }

  ssize_t WriteVector(int fd, const WritePiece* pieces, int count) override {
    return ::writev(fd, reinterpret_cast<const iovec*>(pieces), count);
  }

  ssize_t SpliceToEnd(int fd, int pipe_fd, size_t length) override {
    return SpliceToFileEnd(fd, pipe_fd, length);
  }

  // close(2) is not retried on EINTR: on Linux the descriptor is gone anyway.
  void Close(int fd) override { ::close(fd); }
};

FileIdentity IdentityOf(const struct stat& status) {
  return {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

}  // namespace

bool LogFileAccess::HasPipes() const { return true; }

ssize_t LogFileAccess::ReadPipe(int pipe_fd, char* data, size_t length) {
  return ::read(pipe_fd, data, length);
}

ssize_t LogFileAccess::SpliceToEnd(int /*fd*/, int /*pipe_fd*/, size_t /*length*/) {
  errno = EINVAL;
  return -1;
}

bool LogFileAccess::IdentifyName(const std::string& name, FileIdentity* identity) {
  struct stat status;
  if (::stat(name.c_str(), &status) != 0) return false;
  *identity = IdentityOf(status);
  return true;
}

bool LogFileAccess::IdentifyOpen(int fd, FileIdentity* identity) {
  struct stat status;
  if (::fstat(fd, &status) != 0) return false;
  *identity = IdentityOf(status);
  return true;
}

LogFileAccess* LogFileAccess::Default() {
  // Never destroyed: a sink's worker left blocked at exit may still use it.
  static NoDestructor<PosixLogFileAccess> access;
  return access.get();
}

int OpenSpareDescriptor() {
  int fd;
  do {
    fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

void CloseSpareDescriptor(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace portwick

#include "trafficlog/log_file_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace portwick {

namespace {

class PosixLogFileAccess final : public LogFileAccess {
 public:
  int OpenForAppend(const std::string& name) override {
    if (name.empty()) return -1;
    int fd;
    do {
      fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
  }

  ssize_t Write(int fd, const char* data, size_t length) override {
    return ::write(fd, data, length);
  }

  // close(2) is not retried on EINTR: on Linux the descriptor is gone anyway.
  void Close(int fd) override { ::close(fd); }
};

}  // namespace

LogFileAccess* LogFileAccess::Default() {
  static PosixLogFileAccess access;
  return &access;
}

}  // namespace portwick

#include "app/stdout_pane.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace portwick {

bool WriteFully(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void StdoutPane::AppendText(const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  WriteFully(fd_, text, std::strlen(text));
}

}  // namespace portwick

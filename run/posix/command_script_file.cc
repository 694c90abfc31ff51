// WriteCommandScript (run/command_script.h) on POSIX systems; on Windows:
// run/windows/command_script_file.cc.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "run/command_script.h"

namespace portwick {

ScriptFileResult WriteCommandScript(const std::string& path, std::string_view text) {
  int fd;
  do {
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return ScriptFileResult::kCannotCreate;
  bool ok = true;
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    written += static_cast<size_t>(n);
  }
  // close() reports delayed write errors (for example on network file
  // systems); it must not be retried on EINTR, the descriptor is gone.
  if (close(fd) != 0 && errno != EINTR) ok = false;
  return ok ? ScriptFileResult::kWritten : ScriptFileResult::kWriteFailed;
}

}  // namespace portwick

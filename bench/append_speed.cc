#include "bench/append_speed.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "bench/socket_util.h"

namespace portwick::bench {

double AppendResult::MiBPerSecond(std::uint64_t bytes) const {
  return seconds > 0 ? static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds : 0;
}

AppendResult TimeAppends(const std::string& path, std::uint64_t bytes, std::size_t chunk) {
  AppendResult result;
  if (chunk == 0) {
    result.error = "chunk size 0";
    return result;
  }
  std::vector<char> data(chunk, 'x');
  auto start = std::chrono::steady_clock::now();
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!fd.valid()) {
    result.error = path + ": " + std::strerror(errno);
    return result;
  }
  for (std::uint64_t left = bytes; left > 0;) {
    std::size_t n = left < chunk ? static_cast<std::size_t>(left) : chunk;
    ssize_t written = ::write(fd.get(), data.data(), n);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      result.error = path + ": " + std::strerror(errno);
      return result;
    }
    left -= static_cast<std::uint64_t>(written);
  }
  fd.Reset();
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.ok = true;
  return result;
}

}  // namespace portwick::bench

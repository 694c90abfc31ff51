#include "fake_display.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <filesystem>

namespace portwick::testing {

namespace {

constexpr int kFirstNumber = 3100;  // far above real displays
constexpr int kNumbersTried = 400;

// Binds `fd` to the abstract name of X display `number`.
bool BindLocalX(int fd, int number) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
  std::memcpy(address.sun_path + 1, path.data(), path.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
  return bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
}

bool BindTcpX(int fd, int number) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(6000 + number));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

}  // namespace

FakeDisplay::FakeDisplay(Kind kind, bool listening) {
  if (kind == Kind::kWayland) {
    char folder[] = "/tmp/portwick-wayland.XXXXXX";
    if (mkdtemp(folder) == nullptr) return;
    folder_ = folder;
    const std::string path = folder_ + "/wayland-0";
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd_, 64) != 0) {
      return;
    }
    name_ = path;
  } else {
    const int seed = static_cast<int>(getpid()) % kNumbersTried;
    for (int i = 0; i < kNumbersTried && name_.empty(); ++i) {
      const int number = kFirstNumber + (seed + i) % kNumbersTried;
      const int fd =
          socket(kind == Kind::kLocalX ? AF_UNIX : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (fd < 0) return;
      const bool bound = kind == Kind::kLocalX ? BindLocalX(fd, number) : BindTcpX(fd, number);
      if (!bound || listen(fd, 64) != 0) {
        close(fd);
        continue;
      }
      fd_ = fd;
      name_ = (kind == Kind::kLocalX ? ":" : "127.0.0.1:") + std::to_string(number) + ".0";
    }
  }
  if (!listening && fd_ >= 0) {
    close(fd_);
    fd_ = -1;  // a socket file stays behind, as a crashed compositor's does
  }
}

FakeDisplay::~FakeDisplay() {
  if (fd_ >= 0) close(fd_);
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

}  // namespace portwick::testing

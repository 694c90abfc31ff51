#include "app/display_check.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace portwick {

namespace {

constexpr int kRemoteConnectMilliseconds = 2000;
constexpr int kFirstXPort = 6000;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// Closes the descriptor when it goes.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Connects to a local stream socket; `abstract` puts the name in Linux's
// abstract namespace (a leading zero byte) instead of the file system.
bool ConnectLocal(std::string_view path, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const size_t offset = abstract ? 1 : 0;
  if (path.empty() || path.size() + offset >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                             path.size() + (abstract ? 0 : 1));
  // Non-blocking: a server that doesn't accept (its queue full) would
  // otherwise hold the connect; it is there, which is all that is asked.
  ScopedFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.get() < 0) return false;
  int result;
  do {
    result = connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length);
  } while (result != 0 && errno == EINTR);
  return result == 0 || errno == EAGAIN;
}

// Connects to a TCP port of `host`, waiting at most kRemoteConnectMilliseconds
// for each address.
bool ConnectTcp(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool connected = false;
  for (const addrinfo* at = found; at != nullptr && !connected; at = at->ai_next) {
    ScopedFd fd(socket(at->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) continue;
    if (connect(fd.get(), at->ai_addr, at->ai_addrlen) == 0) {
      connected = true;
      break;
    }
    if (errno != EINPROGRESS) continue;
    pollfd pending{fd.get(), POLLOUT, 0};
    int ready;
    do {
      ready = poll(&pending, 1, kRemoteConnectMilliseconds);
    } while (ready < 0 && errno == EINTR);
    int error = 0;
    socklen_t size = sizeof error;
    connected =
        ready == 1 && getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
  }
  freeaddrinfo(found);
  return connected;
}

// DISPLAY is "[host]:number[.screen]"; a local display listens on
// /tmp/.X11-unix/X<number> (and on the same name in the abstract namespace).
bool XDisplayReachable(const std::string& display) {
  const size_t colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  std::string host = display.substr(0, colon);
  const std::string rest = display.substr(colon + 1);
  const std::string number = rest.substr(0, rest.find('.'));
  if (number.empty() || number.size() > 5 ||
      number.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  if (const size_t slash = host.rfind('/'); slash != std::string::npos && host[0] != '/') {
    host = host.substr(slash + 1);  // "tcp/host" or "unix/host"
  }
  if (host.empty() || host == "unix") {
    const std::string path = "/tmp/.X11-unix/X" + number;
    return ConnectLocal(path, /*abstract=*/true) || ConnectLocal(path, /*abstract=*/false);
  }
  if (host[0] == '/') return ConnectLocal(display.substr(0, colon), /*abstract=*/false);
  return ConnectTcp(host, kFirstXPort + std::stoi(number));
}

bool WaylandDisplayReachable(const std::string& name) {
  if (name.starts_with('/')) return ConnectLocal(name, /*abstract=*/false);
  const std::string runtime_dir = Environment("XDG_RUNTIME_DIR");
  return !runtime_dir.empty() && ConnectLocal(runtime_dir + "/" + name, /*abstract=*/false);
}

std::string Unreachable(const char* variable, const std::string& value) {
  return std::string(variable) + "=" + value + " can't be reached";
}

}  // namespace

std::string DisplayProblem() {
  const std::string x_display = Environment("DISPLAY");
  const std::string wayland_display = Environment("WAYLAND_DISPLAY");
  const std::string platform = Environment("QT_QPA_PLATFORM");
  // "xcb", "wayland", "wayland-egl", each perhaps followed by ":options".
  const std::string platform_name = platform.substr(0, platform.find(':'));

  if (platform_name == "xcb") {
    if (x_display.empty()) return "QT_QPA_PLATFORM=" + platform + " but DISPLAY is unset or empty";
    return XDisplayReachable(x_display) ? "" : Unreachable("DISPLAY", x_display);
  }
  if (platform_name.starts_with("wayland")) {
    if (wayland_display.empty()) {
      return "QT_QPA_PLATFORM=" + platform + " but WAYLAND_DISPLAY is unset or empty";
    }
    return WaylandDisplayReachable(wayland_display)
               ? ""
               : Unreachable("WAYLAND_DISPLAY", wayland_display);
  }
  if (!platform.empty()) return "";

  if (x_display.empty() && wayland_display.empty()) {
    return "DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset or empty";
  }
  if (!wayland_display.empty() && WaylandDisplayReachable(wayland_display)) return "";
  if (!x_display.empty() && XDisplayReachable(x_display)) return "";
  return !x_display.empty() ? Unreachable("DISPLAY", x_display)
                            : Unreachable("WAYLAND_DISPLAY", wayland_display);
}

}  // namespace portwick

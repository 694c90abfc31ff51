#include "stress_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace portwick::stress {

namespace {

uint64_t SplitMix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool WaitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return false;
    pollfd pfd{fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(left.count()) + 1);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

// Reads a stream from its start and checks each byte against it.
class StreamChecker {
 public:
  // Returns the bytes of `data` that were not the stream's next ones.
  uint64_t Take(const uint8_t* data, size_t size) {
    uint64_t mismatches = 0;
    for (size_t i = 0; i < size; ++i) {
      if (offset_ < 8) {
        id_ |= uint64_t{data[i]} << (8 * offset_);
        if (offset_ == 7) stream_ = Stream(id_);
      } else if (data[i] != stream_.At(offset_)) {
        ++mismatches;
      }
      ++offset_;
    }
    return mismatches;
  }
  bool has_id() const { return offset_ >= 8; }
  uint64_t id() const { return id_; }
  uint64_t offset() const { return offset_; }

 private:
  uint64_t id_ = 0;
  uint64_t offset_ = 0;
  Stream stream_{0};
};

}  // namespace

int SoakFactor() {
  const char* value = std::getenv("PORTWICK_STRESS_SOAK");
  const int factor = value != nullptr ? std::atoi(value) : 1;
  return factor > 0 ? factor : 1;
}

uint8_t Stream::At(uint64_t offset) const {
  if (offset < 8) return static_cast<uint8_t>(id_ >> (8 * offset));
  const uint64_t word = SplitMix(id_ * 0x100000001B3ull ^ (offset / 8));
  return static_cast<uint8_t>(word >> (8 * (offset % 8)));
}

std::string Stream::Bytes(uint64_t offset, size_t count) const {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(At(offset + i));
  return bytes;
}

// ---- Destination -------------------------------------------------------------

Destination::Destination(Behaviour behaviour, size_t reset_after)
    : behaviour_(behaviour), reset_after_(reset_after) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listen_fd_, SOMAXCONN) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

Destination::~Destination() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (int fd : fds_) shutdown(fd, SHUT_RDWR);
  }
  if (listen_fd_ >= 0) shutdown(listen_fd_, SHUT_RDWR);
  if (accept_thread_.joinable()) accept_thread_.join();
  for (std::thread& thread : threads_) thread.join();
  for (int fd : fds_) close(fd);
  if (listen_fd_ >= 0) close(listen_fd_);
}

void Destination::AcceptLoop() {
  while (true) {
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    if (stopping_) {
      close(fd);
      return;
    }
    fds_.push_back(fd);
    threads_.emplace_back([this, fd] { Serve(fd); });
  }
}

void Destination::Serve(int fd) {
  if (behaviour_ == Behaviour::kNeverRead) {
    pollfd hang_up{fd, POLLRDHUP, 0};
    while (poll(&hang_up, 1, -1) <= 0 || (hang_up.revents & (POLLRDHUP | POLLHUP | POLLERR)) == 0) {
    }
    return;
  }
  StreamChecker checker;
  std::vector<uint8_t> buffer(65536);
  while (true) {
    size_t room = buffer.size();
    if (behaviour_ == Behaviour::kResetAfter) {
      if (checker.offset() >= reset_after_) {
        const linger abortive{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        std::lock_guard<std::mutex> lock(mutex_);
        fds_.erase(std::find(fds_.begin(), fds_.end(), fd));
        close(fd);  // with SO_LINGER 0: a reset
        return;
      }
      room = std::min(room, reset_after_ - static_cast<size_t>(checker.offset()));
    }
    const ssize_t n = recv(fd, buffer.data(), room, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) shutdown(fd, SHUT_WR);  // the end passed back: the session ends
    if (n <= 0) return;
    const auto size = static_cast<size_t>(n);
    mismatches_ += checker.Take(buffer.data(), size);
    if (checker.has_id()) {
      std::lock_guard<std::mutex> lock(mutex_);
      received_[checker.id()] = checker.offset();
    }
    if (behaviour_ == Behaviour::kEcho) {
      for (size_t i = 0; i < size; ++i) buffer[i] = EchoOf(buffer[i]);
      size_t sent = 0;
      while (sent < size) {
        const ssize_t m = send(fd, buffer.data() + sent, size - sent, MSG_NOSIGNAL);
        if (m < 0 && errno == EINTR) continue;
        if (m <= 0) return;
        sent += static_cast<size_t>(m);
      }
    }
  }
}

std::map<uint64_t, uint64_t> Destination::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

uint64_t Destination::TotalReceived() const {
  uint64_t total = 0;
  for (const auto& [id, bytes] : Received()) total += bytes;
  return total;
}

bool Destination::WaitForTotal(uint64_t bytes, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (TotalReceived() < bytes) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// ---- Client -----------------------------------------------------------------

Client::Client(Client&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

Client& Client::operator=(Client&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Client::~Client() { Close(); }

bool Client::Connect(int port) {
  Close();
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(port);
  if (fd_ >= 0 && connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return true;
  }
  Close();
  return false;
}

bool Client::Send(const Stream& stream, uint64_t offset, size_t count) {
  constexpr size_t kPiece = 65536;
  while (count > 0) {
    const size_t piece = std::min(count, kPiece);
    const std::string bytes = stream.Bytes(offset, piece);
    size_t sent = 0;
    while (sent < piece) {
      const ssize_t n = send(fd_, bytes.data() + sent, piece - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    offset += piece;
    count -= piece;
  }
  return true;
}

bool Client::ReceiveEcho(const Stream& stream, uint64_t offset, size_t count,
                         std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::vector<uint8_t> buffer(65536);
  while (count > 0) {
    if (!WaitReadable(fd_, deadline)) return false;
    const ssize_t n = recv(fd_, buffer.data(), std::min(count, buffer.size()), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[static_cast<size_t>(i)] != EchoOf(stream.At(offset++))) return false;
    }
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool Client::WaitForEnd(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[65536];
  while (WaitReadable(fd_, deadline)) {
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
  }
  return false;
}

void Client::Reset() {
  if (fd_ < 0) return;
  const linger abortive{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  Close();
}

void Client::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

// ---- Portwick ---------------------------------------------------------------

Portwick::Portwick(const std::string& destination, const Options& options) {
  testing::ChildProcess::Options child;
  child.argv = {PORTWICK_BINARY, "--console", "--source=0", "--destination=" + destination};
  child.argv.insert(child.argv.end(), options.args.begin(), options.args.end());
  child.descriptor_limit = options.descriptor_limit;
  std::string error;
  child_ = testing::ChildProcess::Start(child, &error);
  if (!child_) return;
  const std::optional<std::string> line = child_->WaitForStderrLine(
      [](const std::string& text) { return text.starts_with("Portwick: "); }, kDeadline);
  // "Portwick: forwarding *:<port> -> <destination>"
  const std::string prefix = "Portwick: forwarding *:";
  if (!line || !line->starts_with(prefix)) return;
  port_ = std::atoi(line->c_str() + prefix.size());
}

int Portwick::Stop(int signal_number, std::chrono::milliseconds timeout) {
  if (!child_ || !child_->Signal(signal_number)) return -1;
  const std::optional<int> status = child_->WaitForExit(timeout);
  child_->DrainOutput(timeout);
  if (!status || !WIFEXITED(*status)) return -1;
  return WEXITSTATUS(*status);
}

std::string Portwick::StandardError() { return child_ ? child_->stderr_text() : ""; }

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// ---- LogCheck ---------------------------------------------------------------

namespace {

// One direction of one session as it is expected in the log.
struct Expected {
  Stream stream;
  bool reply;
  uint64_t position = 0;
  uint8_t At(uint64_t offset) const {
    const uint8_t byte = stream.At(offset);
    return reply ? EchoOf(byte) : byte;
  }
};

constexpr size_t kRecognise = 16;  // bytes that must agree to start a stretch

bool Continues(std::string_view log, size_t at, const Expected& expected) {
  const size_t count = std::min(kRecognise, log.size() - at);
  for (size_t i = 0; i < count; ++i) {
    if (static_cast<uint8_t>(log[at + i]) != expected.At(expected.position + i)) return false;
  }
  return true;
}

}  // namespace

LogCheck CheckLog(std::string_view log, const std::vector<uint64_t>& stream_ids) {
  std::vector<Expected> all;
  for (uint64_t id : stream_ids) {
    all.push_back({Stream(id), false});
    all.push_back({Stream(id), true});
  }
  LogCheck check;
  Expected* current = nullptr;
  size_t stretch_start = 0;
  size_t at = 0;
  const auto find_at = [&](size_t position, const Expected* except) -> Expected* {
    for (Expected& candidate : all) {
      if (&candidate != except && Continues(log, position, candidate)) return &candidate;
    }
    return nullptr;
  };
  while (at < log.size()) {
    if (current != nullptr && static_cast<uint8_t>(log[at]) == current->At(current->position)) {
      ++current->position;
      ++at;
      continue;
    }
    Expected* next = find_at(at, nullptr);
    if (next == nullptr && current != nullptr) {
      // The last bytes of the stretch may have matched the current stream by
      // chance: look for the next stretch a few bytes back.
      for (size_t back = 1; back <= 8 && back < at - stretch_start && next == nullptr; ++back) {
        Expected* candidate = find_at(at - back, current);
        if (candidate != nullptr) {
          current->position -= back;
          at -= back;
          next = candidate;
        }
      }
    }
    if (next == nullptr) {
      ++check.bytes_unexplained;
      ++at;
      current = nullptr;
      continue;
    }
    current = next;
    stretch_start = at;
  }
  for (const Expected& expected : all) {
    if (expected.position == 0) continue;
    (expected.reply ? check.down_logged : check.up_logged)[expected.stream.id()] =
        expected.position;
    check.bytes_explained += expected.position;
  }
  return check;
}

// ---- Figures ----------------------------------------------------------------

namespace {
std::mutex figures_mutex;
uint64_t total_sessions = 0;
uint64_t total_checked = 0;
uint64_t total_lost = 0;
}  // namespace

void Figures::Add(uint64_t sessions, uint64_t bytes_checked, uint64_t bytes_lost) {
  std::lock_guard<std::mutex> lock(figures_mutex);
  total_sessions += sessions;
  total_checked += bytes_checked;
  total_lost += bytes_lost;
}

std::string Figures::Text() {
  std::lock_guard<std::mutex> lock(figures_mutex);
  return "stress: " + std::to_string(total_sessions) + " sessions, " +
         std::to_string(total_checked) + " bytes checked, " + std::to_string(total_lost) +
         " bytes lost";
}

}  // namespace portwick::stress

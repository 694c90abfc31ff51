#include "stress_support.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/posix/socket_descriptor.h"
#include "engine/socket_ops.h"

namespace portwick::stress {

namespace {

uint64_t SplitMix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
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
    : behaviour_(behaviour),
      reset_after_(reset_after),
      server_([this](SocketHandle fd) { Serve(fd); }, SOMAXCONN) {}

void Destination::Serve(SocketHandle fd) {
  if (behaviour_ == Behaviour::kNeverRead) {
    pollfd hang_up{Descriptor(fd), POLLRDHUP, 0};
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
        sockets::ResetConnection(fd);
        return;
      }
      room = std::min(room, reset_after_ - static_cast<size_t>(checker.offset()));
    }
    const ssize_t n = sockets::Recv(fd, reinterpret_cast<char*>(buffer.data()), room);
    if (n == 0) sockets::ShutdownWrite(fd);  // the end passed back: the session ends
    if (n <= 0) return;
    const auto size = static_cast<size_t>(n);
    mismatches_ += checker.Take(buffer.data(), size);
    if (checker.has_id()) {
      std::lock_guard<std::mutex> lock(mutex_);
      received_[checker.id()] = checker.offset();
    }
    if (behaviour_ == Behaviour::kEcho) {
      for (size_t i = 0; i < size; ++i) buffer[i] = EchoOf(buffer[i]);
      if (sockets::SendAll(fd, reinterpret_cast<const char*>(buffer.data()), size) != 0) return;
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
  return testing::WaitUntil([&] { return TotalReceived() >= bytes; }, timeout);
}

// ---- Client -----------------------------------------------------------------

bool Client::Send(const Stream& stream, uint64_t offset, size_t count) {
  constexpr uint64_t kPiece = 65536;
  for (const uint64_t end = offset + count; offset < end; offset += kPiece) {
    if (!testing::SendBytes(fd(), stream.Bytes(offset, std::min(kPiece, end - offset)))) {
      return false;
    }
  }
  return true;
}

bool Client::ReceiveEcho(const Stream& stream, uint64_t offset, size_t count,
                         std::chrono::milliseconds timeout) {
  const std::string echo = testing::ReadExactly(fd(), count, timeout).data;
  if (echo.size() != count) return false;
  for (size_t i = 0; i < count; ++i) {
    if (static_cast<uint8_t>(echo[i]) != EchoOf(stream.At(offset + i))) return false;
  }
  return true;
}

bool Client::WaitForEnd(std::chrono::milliseconds timeout) {
  return testing::ReadUntilEnd(fd(), timeout).end != testing::StreamEnd::kTimeout;
}

void Client::Reset() {
  if (connected()) sockets::ResetConnection(fd());
  Close();
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

#include "bench/condition_probes.h"

#include <arpa/inet.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "bench/load_protocol.h"

namespace portwick::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadSize = 64 * 1024;

std::uint64_t DataSegmentsIn(int fd) {
  tcp_info info{};
  socklen_t size = sizeof info;
  if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return 0;
  return info.tcpi_data_segs_in;
}

// Waits until `fd` is readable, at most `seconds`.
bool WaitReadable(int fd, double seconds) {
  pollfd p{fd, POLLIN, 0};
  const int ms = static_cast<int>(seconds * 1000);
  int rc;
  do {
    rc = ::poll(&p, 1, ms);
  } while (rc < 0 && errno == EINTR);
  return rc > 0;
}

// A connect that doesn't wait: the SYN goes, the call returns.
bool StartConnect(int fd, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ||
         errno == EINPROGRESS;
}

}  // namespace

CountedDownload RunCountedDownload(int port, std::uint64_t bytes, double quiet_seconds) {
  CountedDownload result;
  UniqueFd fd = ConnectLoopback(port, 60'000, &result.error);
  if (!fd.valid()) return result;
  unsigned char request[1 + kSourceHeaderSize];
  request[0] = static_cast<unsigned char>(kSourceMode);
  EncodeCount(bytes, request + 1);
  if (!WriteAll(fd.get(), request, sizeof request)) {
    result.error = "request failed";
    return result;
  }
  std::unique_ptr<char[]> buffer(new char[kReadSize]);
  while (result.bytes < bytes) {
    if (!WaitReadable(fd.get(), quiet_seconds)) {
      result.end = DownloadEnd::kTimeout;
      break;
    }
    const ssize_t n = ::recv(fd.get(), buffer.get(), kReadSize, 0);
    if (n > 0) {
      result.bytes += static_cast<std::uint64_t>(n);
      ++result.reads;
      result.largest = std::max(result.largest, static_cast<std::uint64_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    result.end = n == 0                ? DownloadEnd::kEndOfStream
                 : errno == ECONNRESET ? DownloadEnd::kReset
                                       : DownloadEnd::kFailed;
    break;
  }
  if (result.bytes == bytes) result.end = DownloadEnd::kComplete;
  result.segments = DataSegmentsIn(fd.get());
  return result;
}

int StalledListener::Open(std::string* error) {
  listener_ = ListenLoopback(0, 0, false, error);
  if (!listener_.valid()) return 0;
  const int port = LocalPort(listener_.get());
  // With a backlog of 0 the queue takes one connection; a connect that
  // doesn't complete within a moment is one whose SYN was dropped.
  for (int i = 0; i < 8; ++i) {
    UniqueFd filler(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!filler.valid() || !StartConnect(filler.get(), port)) break;
    pollfd p{filler.get(), POLLOUT, 0};
    const bool completed = ::poll(&p, 1, 200) > 0;
    fillers_.push_back(std::move(filler));
    if (!completed) return port;
  }
  if (error != nullptr) *error = "the accept queue did not fill";
  return 0;
}

double SecondsUntilClosed(int port, double max_seconds, std::string* error) {
  const Clock::time_point start = Clock::now();
  UniqueFd fd = ConnectLoopback(port, 60'000, error);
  if (!fd.valid()) return -1;
  char byte;
  while (WaitReadable(fd.get(), max_seconds)) {
    const ssize_t n = ::recv(fd.get(), &byte, 1, 0);
    if (n <= 0 && !(n < 0 && errno == EINTR)) {
      return std::chrono::duration<double>(Clock::now() - start).count();
    }
  }
  if (error != nullptr) *error = "still open after the time allowed";
  return -1;
}

}  // namespace portwick::bench

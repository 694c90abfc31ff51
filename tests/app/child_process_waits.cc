// The platform-neutral part of ChildProcess: waits built on ReadSome.
#include "child_process.h"

namespace portwick::testing {

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!reaped_ && std::chrono::steady_clock::now() < deadline) {
    // Waits for output (kept drained so the child never blocks on a full
    // pipe) or for the child's end, which ReadSome reaps.
    ReadSome(deadline);
  }
  if (!reaped_) return std::nullopt;
  return exit_status_;
}

std::optional<std::string> ChildProcess::WaitForStderrLine(
    const std::function<bool(const std::string&)>& match, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    size_t end;
    while ((end = stderr_text_.find('\n', stderr_scanned_)) != std::string::npos) {
      std::string line = stderr_text_.substr(stderr_scanned_, end - stderr_scanned_);
      stderr_scanned_ = end + 1;
      if (match(line)) return line;
    }
    if (!stderr_open() || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    ReadSome(deadline);
  }
}

bool ChildProcess::WaitForStdout(const std::string& needle, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (stdout_text_.find(needle) == std::string::npos) {
    if (!stdout_open() || std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    ReadSome(deadline);
  }
  return true;
}

void ChildProcess::DrainOutput(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while ((stdout_open() || stderr_open()) && std::chrono::steady_clock::now() < deadline) {
    ReadSome(deadline);
  }
}

std::optional<int> RunToExit(const ChildProcess::Options& options,
                             std::chrono::milliseconds timeout) {
  std::string error;
  std::unique_ptr<ChildProcess> child = ChildProcess::Start(options, &error);
  if (!child) return std::nullopt;
  return child->WaitForExit(timeout);
}

}  // namespace portwick::testing

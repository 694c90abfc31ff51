#include "trafficlog_test_support.h"

#include <stdlib.h>
#if defined(_WIN32)
#include <process.h>

#include <atomic>
#include <chrono>
#endif

#include <cerrno>
#include <fstream>
#include <iterator>

namespace portwick::logtesting {

TempDir::TempDir() {
#if defined(_WIN32)
  // No mkdtemp: a name from the process id, a counter and the clock, made
  // with create_directory, which fails rather than reuse a folder.
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const auto name = "portwick-log-" + std::to_string(::_getpid()) + "-" +
                      std::to_string(counter++) + "-" +
                      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    const std::filesystem::path candidate = std::filesystem::temp_directory_path() / name;
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) path_ = candidate.string();
  }
#else
  std::string pattern = (std::filesystem::temp_directory_path() / "portwick-log-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
#endif
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& name, const std::string& content) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

bool FileExists(const std::string& name) {
  std::error_code ignored;
  return std::filesystem::exists(name, ignored);
}

void RecordingPane::AppendText(const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  text_ += text;
  ++appends_;
  changed_.notify_all();
}

std::string RecordingPane::Text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}

int RecordingPane::Appends() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return appends_;
}

bool RecordingPane::WaitForSize(size_t size) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, kDeadline, [&] { return text_.size() >= size; });
}

void OwnerThreadPane::AppendText(const char* text) {
  std::unique_lock<std::mutex> lock(mutex_);
  pending_.emplace_back(text);
  const long ticket = ++queued_count_;
  done_.wait(lock, [&] { return served_count_ >= ticket; });
}

void OwnerThreadPane::Serve() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++serves_;
  while (!pending_.empty()) {
    text_ += pending_.front();
    pending_.pop_front();
    ++served_count_;
  }
  done_.notify_all();
}

std::string OwnerThreadPane::Text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}

long OwnerThreadPane::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queued_count_;
}

int OwnerThreadPane::Serves() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return serves_;
}

int FaultyFileAccess::OpenForAppend(const std::string& name) {
  ++opens;
  int budget = opens_to_fail.load();
  while (budget > 0) {
    if (opens_to_fail.compare_exchange_weak(budget, budget - 1)) {
      errno = EACCES;
      return -1;
    }
  }
  const int fd = LogFileAccess::Default()->OpenForAppend(name);
  if (fd >= 0) ++open_descriptors;
  return fd;
}

ssize_t FaultyFileAccess::Write(int fd, const char* data, size_t length) {
  const long call = ++write_calls_;
  if (interrupt_every_other && call % 2 == 1) {
    errno = EINTR;
    return -1;
  }
  int budget = writes_to_fail.load();
  while (budget > 0) {
    if (writes_to_fail.compare_exchange_weak(budget, budget - 1)) {
      errno = EIO;
      return -1;
    }
  }
  const size_t limit = max_write.load();
  if (limit != 0 && length > limit) length = limit;
  return LogFileAccess::Default()->Write(fd, data, length);
}

void FaultyFileAccess::Close(int fd) {
  --open_descriptors;
  LogFileAccess::Default()->Close(fd);
}

}  // namespace portwick::logtesting

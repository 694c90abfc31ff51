#ifndef PORTWICK_TESTS_TRAFFICLOG_TRAFFICLOG_TEST_SUPPORT_H_
#define PORTWICK_TESTS_TRAFFICLOG_TRAFFICLOG_TEST_SUPPORT_H_

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "read_file.h"
#include "trafficlog/log_file_access.h"
#include "trafficlog/output_pane.h"

namespace portwick::logtesting {

inline constexpr std::chrono::seconds kDeadline{20};

// Polls `done` until it holds or the deadline passes; returns its last value.
template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds deadline = kDeadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A folder of its own under the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

using testing::ReadFile;
void WriteFile(const std::string& name, const std::string& content);
bool FileExists(const std::string& name);

// Records every append; thread-safe.
class RecordingPane : public OutputPane {
 public:
  void AppendText(const char* text) override;

  std::string Text() const;
  int Appends() const;
  // Waits until the pane holds at least `size` characters.
  bool WaitForSize(size_t size) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string text_;
  int appends_ = 0;
};

// Behaves like a pane owned by a GUI thread: AppendText from another thread
// blocks until the owner thread calls Serve(), which performs the appends
// waiting at that moment.
class OwnerThreadPane : public OutputPane {
 public:
  void AppendText(const char* text) override;
  void Serve();

  std::string Text() const;
  int Serves() const;
  // Appends asked for so far, served or not.
  long Requests() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable done_;
  std::deque<std::string> pending_;
  long served_count_ = 0;  // appends performed so far
  long queued_count_ = 0;  // appends requested so far
  int serves_ = 0;
  std::string text_;
};

// A file system seam that can fail opens, cut writes short, interrupt them
// and fail them, while counting calls. Thread-safe.
class FaultyFileAccess : public LogFileAccess {
 public:
  int OpenForAppend(const std::string& name) override;
  ssize_t Write(int fd, const char* data, size_t length) override;
  void Close(int fd) override;

  std::atomic<int> opens_to_fail{0};  // the next this many opens fail
  std::atomic<size_t> max_write{0};   // 0: no limit per write call
  std::atomic<bool> interrupt_every_other{false};
  std::atomic<int> writes_to_fail{0};  // the next this many writes fail (EIO)
  std::atomic<int> opens{0};
  std::atomic<int> open_descriptors{0};

 private:
  std::atomic<long> write_calls_{0};
};

}  // namespace portwick::logtesting

#endif  // PORTWICK_TESTS_TRAFFICLOG_TRAFFICLOG_TEST_SUPPORT_H_

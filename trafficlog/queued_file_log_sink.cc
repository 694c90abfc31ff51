#include "trafficlog/queued_file_log_sink.h"

#include <chrono>
#include <utility>

namespace portwick {

QueuedFileLogSink::QueuedFileLogSink(std::string file_name, Options options, LogFileAccess* access,
                                     std::shared_ptr<LogLossCounter> losses)
    : QueuedLogSink(std::move(options)),
      file_name_(std::move(file_name)),
      losses_(std::move(losses)),
      takes_pipes_(access->HasPipes()),
      file_(access, file_name_, losses_.get()) {}

QueuedFileLogSink::~QueuedFileLogSink() { Stop(); }

void QueuedFileLogSink::Output(const char* data, int32_t length) {
  MutexLock lock(&file_mutex_);
  file_.Append(data, static_cast<size_t>(length));
}

void QueuedFileLogSink::OutputRecords(const LogRecord* records, size_t count) {
  MutexLock lock(&file_mutex_);
  file_.AppendRecords(records, count);
}

void QueuedFileLogSink::BeginDrain() {
  MutexLock lock(&file_mutex_);
  file_.CheckRotation(std::chrono::steady_clock::now());
}

bool QueuedFileLogSink::WritePiped(int pipe_fd, int32_t length) {
  MutexLock lock(&file_mutex_);
  file_.CheckRotation(std::chrono::steady_clock::now());
  return file_.AppendFromPipe(pipe_fd, static_cast<size_t>(length));
}

}  // namespace portwick

#include "trafficlog/queued_file_log_sink.h"

#include <cerrno>
#include <chrono>
#include <memory>
#include <new>
#include <utility>

namespace portwick {

QueuedFileLogSink::QueuedFileLogSink(std::string file_name, Options options, LogFileAccess* access,
                                     std::shared_ptr<LogLossCounter> losses)
    : QueuedLogSink(std::move(options)),
      file_name_(std::move(file_name)),
      losses_(std::move(losses)),
      takes_pipes_(access->HasPipes()),
      access_(access),
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
  const size_t bytes = static_cast<size_t>(length);
  // Without the lock once queuing: the worker may hold it, blocked in a
  // write to a FIFO nobody reads.
  if (!queue_piped_.load(std::memory_order_acquire)) {
    MutexLock lock(&file_mutex_);
    file_.CheckRotation(std::chrono::steady_clock::now());
    const LogFile::PipeAppend result = file_.AppendFromPipe(pipe_fd, bytes);
    if (result != LogFile::PipeAppend::kRefused) return result == LogFile::PipeAppend::kWritten;
    // From now on every piped record is queued: one queued now must not be
    // overtaken by a later one of its direction written at once.
    queue_piped_.store(true, std::memory_order_release);
  }
  // A file that takes nothing from a pipe (a FIFO, a device) gets the record
  // as Write would queue it: its worker may block there, the relays only
  // once the queue is full. One more byte: the queue wants a zero after it.
  const std::unique_ptr<char[]> record(new (std::nothrow) char[bytes + 1]);
  if (record == nullptr) {
    if (losses_ != nullptr)
      losses_->Count(Status::Error(Status::Kind::kOther, "memory", ENOMEM), 1, bytes);
    return false;
  }
  if (!LogFile::ReadPipeRecord(access_, losses_.get(), pipe_fd, record.get(), bytes)) return false;
  record[bytes] = '\0';
  LogCall call;
  Write(call, record.get(), length);
  return true;
}

}  // namespace portwick

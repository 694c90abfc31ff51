#include "trafficlog/file_log_sink.h"

#include <chrono>
#include <utility>

namespace portwick {

FileLogSink::FileLogSink(std::string file_name, LogFileAccess* access,
                         std::shared_ptr<LogLossCounter> losses)
    : file_name_(std::move(file_name)),
      losses_(std::move(losses)),
      takes_pipes_(access->HasPipes()),
      file_(access, file_name_, losses_.get()) {}

void FileLogSink::Output(const char* data, int32_t length) {
  MutexLock lock(&mutex_);
  file_.CheckRotation(std::chrono::steady_clock::now());
  file_.Append(data, static_cast<size_t>(length));
}

bool FileLogSink::WritePiped(int pipe_fd, int32_t length) {
  MutexLock lock(&mutex_);
  file_.CheckRotation(std::chrono::steady_clock::now());
  const size_t bytes = static_cast<size_t>(length);
  switch (file_.AppendFromPipe(pipe_fd, bytes)) {
    case LogFile::PipeAppend::kWritten:
      return true;
    case LogFile::PipeAppend::kLost:
      return false;
    case LogFile::PipeAppend::kRefused:
      break;
  }
  return file_.AppendCopiedFromPipe(pipe_fd, bytes);
}

}  // namespace portwick

#include "trafficlog/file_log_sink.h"

#include <utility>

#include "trafficlog/log_file.h"

namespace portwick {

FileLogSink::FileLogSink(std::string file_name, LogFileAccess* access)
    : file_name_(std::move(file_name)), access_(access) {}

void FileLogSink::Output(const char* data, int32_t length) {
  MutexLock lock(&mutex_);
  AppendToLogFile(access_, file_name_, data, static_cast<size_t>(length));
}

}  // namespace portwick

#include "trafficlog/log_file.h"

#include <cerrno>

namespace portwick {

LogFile::LogFile(LogFileAccess* access, const std::string& name)
    : access_(access), fd_(access->OpenForAppend(name)) {}

LogFile::~LogFile() {
  if (fd_ >= 0) access_->Close(fd_);
}

bool LogFile::Append(const char* data, size_t length) {
  if (fd_ < 0) return false;
  while (length > 0) {
    const ssize_t written = access_->Write(fd_, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    // A write that makes no progress would make this loop spin.
    if (written == 0) return false;
    data += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

bool AppendToLogFile(LogFileAccess* access, const std::string& name, const char* data,
                     size_t length) {
  LogFile file(access, name);
  return file.Append(data, length);
}

}  // namespace portwick

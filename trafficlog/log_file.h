#ifndef PORTWICK_TRAFFICLOG_LOG_FILE_H_
#define PORTWICK_TRAFFICLOG_LOG_FILE_H_

#include <cstddef>
#include <string>

#include "trafficlog/log_file_access.h"

namespace portwick {

// The traffic log file, opened for appending for as long as this object
// lives. The file holds the records' bytes back to back, exactly as written:
// nothing is added or converted.
//
// `access` is borrowed and must outlive this object. One thread at a time.
class LogFile {
 public:
  // Opens (or creates) `name`; IsOpen() tells whether that worked.
  LogFile(LogFileAccess* access, const std::string& name);
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  ~LogFile();

  bool IsOpen() const { return fd_ >= 0; }

  // Appends all `length` bytes, going on after partial writes and
  // interrupted calls. Returns false when a write fails (the rest of the
  // record is then lost) or the file is not open.
  bool Append(const char* data, size_t length);

 private:
  LogFileAccess* const access_;
  int fd_;
};

// Opens `name`, appends the record and closes the file again. Returns false
// when the record (or part of it) could not be written.
bool AppendToLogFile(LogFileAccess* access, const std::string& name, const char* data,
                     size_t length);

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_LOG_FILE_H_

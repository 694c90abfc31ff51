#ifndef PORTWICK_TRAFFICLOG_LOG_FILE_ACCESS_H_
#define PORTWICK_TRAFFICLOG_LOG_FILE_ACCESS_H_

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace portwick {

// The file operations the traffic log needs, behind one seam so that tests
// can make an open fail or a write come up short.
//
// Thread safety: implementations may be called from any number of threads.
class LogFileAccess {
 public:
  virtual ~LogFileAccess() = default;

  // Opens `name` for appending, creating it (mode 0644) when it is missing
  // and keeping its content when it exists. Returns a descriptor, or -1.
  virtual int OpenForAppend(const std::string& name) = 0;
  // Like write(2): the count of bytes written, or -1 with errno set.
  virtual ssize_t Write(int fd, const char* data, size_t length) = 0;
  virtual void Close(int fd) = 0;

  // The real file system; lives as long as the process.
  static LogFileAccess* Default();
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_LOG_FILE_ACCESS_H_

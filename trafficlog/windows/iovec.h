#ifndef PORTWICK_TRAFFICLOG_WINDOWS_IOVEC_H_
#define PORTWICK_TRAFFICLOG_WINDOWS_IOVEC_H_

#include <cstddef>

// The one piece of <sys/uio.h> the log file's seam names; Windows has no
// gathered write for files opened without buffering, so WriteVector writes
// the pieces one after another (trafficlog/windows/log_file_access.cc).
struct iovec {
  void* iov_base;
  size_t iov_len;
};

#endif  // PORTWICK_TRAFFICLOG_WINDOWS_IOVEC_H_

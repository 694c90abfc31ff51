#ifndef PORTWICK_TRAFFICLOG_LOG_FILE_ACCESS_H_
#define PORTWICK_TRAFFICLOG_LOG_FILE_ACCESS_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace portwick {

// Which file a name or a descriptor stands for: a name that was renamed away
// (rotated) or removed no longer matches the descriptor opened through it.
// (On Windows: the volume's serial number and the file's index on it.)
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// One piece of a vectored write. Laid out as POSIX's iovec, so the POSIX
// implementation hands an array of them to writev as it is.
struct WritePiece {
  const char* data;
  size_t length;
};

// The file operations the traffic log needs, behind one seam so that tests
// can make an open fail or a write come up short. The real file system is
// implemented per platform (trafficlog/posix/log_file_access.cc).
//
// Thread safety: implementations may be called from any number of threads.
class LogFileAccess {
 public:
  virtual ~LogFileAccess() = default;

  // Opens `name` for appending, creating it for its owner only (mode 0600;
  // it holds other people's traffic) when it is missing and keeping its
  // content when it exists. The open itself never blocks (a FIFO without a
  // reader fails with ENXIO); the descriptor it returns does blocking
  // writes. Returns a descriptor, or -1 with errno set.
  virtual int OpenForAppend(const std::string& name) = 0;
  // Like write(2): the count of bytes written, or -1 with errno set.
  virtual ssize_t Write(int fd, const char* data, size_t length) = 0;
  virtual void Close(int fd) = 0;
  // Like writev(2). By default it writes the first non-empty piece alone
  // through Write (a short write, as writev may make), so a seam that only
  // overrides Write sees every byte.
  virtual ssize_t WriteVector(int fd, const WritePiece* pieces, int count);

  // Pipes, for a log that takes records straight from one (Linux): whether
  // there are any here (false on Windows, where nothing calls the two below).
  virtual bool HasPipes() const;
  // Like read(2) from the pipe `pipe_fd`.
  virtual ssize_t ReadPipe(int pipe_fd, char* data, size_t length);
  // Moves up to `length` bytes from the pipe `pipe_fd` to the end of the
  // file open on `fd` without copying them through user space (splice); the
  // count moved, or -1 with errno set. EINVAL, ENOSYS or EOPNOTSUPP mean
  // the system refuses that for this file: nothing was moved, and the
  // caller reads the bytes out (ReadPipe) and writes them instead. By
  // default it refuses, so a seam that only overrides Write sees every byte.
  virtual ssize_t SpliceToEnd(int fd, int pipe_fd, size_t length);

  // The file `name` leads to now (links followed) and the file open on `fd`;
  // false (errno set) when there is none.
  virtual bool IdentifyName(const std::string& name, FileIdentity* identity);
  virtual bool IdentifyOpen(int fd, FileIdentity* identity);

  // The real file system; lives as long as the process.
  static LogFileAccess* Default();
};

// A descriptor held in reserve (on /dev/null), so that a log file can be
// opened again after the process ran out of descriptors; -1 when none can be
// had. Closed with CloseSpareDescriptor. Any thread.
int OpenSpareDescriptor();
void CloseSpareDescriptor(int fd);

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_LOG_FILE_ACCESS_H_

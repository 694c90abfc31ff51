#ifndef PORTWICK_TRAFFICLOG_LOG_FILE_H_
#define PORTWICK_TRAFFICLOG_LOG_FILE_H_

#include <chrono>
#include <cstddef>
#include <string>

#include "trafficlog/log_file_access.h"
#include "trafficlog/log_loss.h"
#include "trafficlog/log_record.h"

namespace portwick {

// The traffic log file of one sink, held open from the sink's start to its
// end, so that records still reach it when the process runs out of
// descriptors. The file holds the records' bytes back to back, exactly as
// written: nothing is added or converted, and it is only ever appended to.
//
// A file that exists at construction is opened then. A missing one is
// created with the first record; until then a spare descriptor (on
// /dev/null) is held, and given back just before the file is created, so
// that the creation finds a free descriptor even at the process's limit.
// When the name is found to lead to another file or to none (the file was
// rotated or removed; looked at once per kRotationCheckInterval through
// CheckRotation), the file is opened again by its name, created if need be.
//
// A record that can't be written whole (the open or a write failed) is
// counted in `losses` (may be null) with the failure; the next record tries
// again, opening the file anew after a failed write.
//
// `access` and `losses` are borrowed and must outlive this object. One
// thread at a time.
class LogFile {
 public:
  static constexpr std::chrono::milliseconds kRotationCheckInterval{1000};

  LogFile(LogFileAccess* access, std::string name, LogLossCounter* losses);
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  ~LogFile();

  bool IsOpen() const { return fd_ >= 0; }

  // Appends all `length` bytes, going on after partial writes and
  // interrupted calls. False when the record (or its rest) was lost.
  bool Append(const char* data, size_t length);
  // Appends `count` records one after another, as that many Appends would,
  // but with as few system calls as the pieces allow (writev). A record
  // that can't be written is counted and the next one tried. Returns the
  // records written whole.
  size_t AppendRecords(const LogRecord* records, size_t count);

  enum class PipeAppend {
    kWritten,  // every byte is in the file
    kLost,     // counted as lost, as Append counts it; some may be left in the pipe
    // The file takes nothing from a pipe (a FIFO, a device, a file system
    // without it): nothing was taken or counted. The caller copies the
    // record out (AppendCopiedFromPipe, or a queue of its own).
    kRefused,
  };
  // Appends the next `length` bytes of the pipe read through `pipe_fd` (where
  // the access has pipes: LogFileAccess::HasPipes) as one record, moving
  // them inside the kernel.
  PipeAppend AppendFromPipe(int pipe_fd, size_t length);
  // Reads the next `length` bytes of the pipe into `data`; false, with the
  // record counted in `losses` (may be null), when the pipe can't be read.
  // Needs no LogFile: any thread.
  static bool ReadPipeRecord(LogFileAccess* access, LogLossCounter* losses, int pipe_fd, char* data,
                             size_t length);
  // Reads the record out of the pipe and appends it as Append does; false
  // when it was lost.
  bool AppendCopiedFromPipe(int pipe_fd, size_t length);

  // Unless the last look was less than kRotationCheckInterval before `now`:
  // when the name no longer leads to the open file, the next Append opens
  // it again.
  void CheckRotation(std::chrono::steady_clock::time_point now);

 private:
  // Opens the file by its name in place of the descriptor held; false with
  // errno set when that fails (the stale descriptor is given up then too).
  bool Open();
  void CloseLog();
  void TakeSpare();
  void GiveBackSpare();
  void CountLoss(Status::Kind kind, const char* step, int error, size_t bytes);

  LogFileAccess* const access_;
  const std::string name_;
  LogLossCounter* const losses_;
  int fd_ = -1;
  int spare_fd_ = -1;  // held while fd_ is not open
  bool reopen_ = false;
  bool splice_refused_ = false;  // by the file open now
  std::chrono::steady_clock::time_point next_check_;
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_LOG_FILE_H_

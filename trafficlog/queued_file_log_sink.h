#ifndef PORTWICK_TRAFFICLOG_QUEUED_FILE_LOG_SINK_H_
#define PORTWICK_TRAFFICLOG_QUEUED_FILE_LOG_SINK_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/mutex.h"
#include "trafficlog/log_file.h"
#include "trafficlog/log_file_access.h"
#include "trafficlog/log_loss.h"
#include "trafficlog/queued_log_sink.h"

namespace portwick {

// Appends the records to the traffic log file on its worker thread. The file
// stays open for the sink's life (see LogFile: created with the first
// record, opened again after a rotation or removal, looked at once per
// drain at most). A record that can't be written is counted in `losses`
// (may be null); the next one tries again. The file content is the same as
// with FileLogSink: the records back to back.
//
// Records may also come from a pipe (WritePiped, the Linux relay's chunks
// that never leave the kernel): those are written at once on the relay's
// thread, under the same lock as the worker's writes, so the two never
// interleave within a record. Such a record waits for nothing queued, which
// the callers allow: a direction never goes back from copying to the pipe.
// It holds no queue room either: the relay waits for its write, so what a
// direction has in flight stays within one chunk, less than the queue's
// bound. A file that takes nothing from a pipe (a FIFO, a device) gets
// piped records read out and queued as written ones, from the first such
// one on.
//
// `access` is borrowed and must outlive the sink; `losses` is shared. Thread
// safety: as QueuedLogSink.
class QueuedFileLogSink : public QueuedLogSink {
 public:
  explicit QueuedFileLogSink(std::string file_name, Options options = {},
                             LogFileAccess* access = LogFileAccess::Default(),
                             std::shared_ptr<LogLossCounter> losses = nullptr);
  // Stops the worker (delivering what is queued) before the file goes.
  ~QueuedFileLogSink() override;

  const std::string& file_name() const { return file_name_; }

  bool TakesPipedRecords() const override { return takes_pipes_; }
  bool WritePiped(int pipe_fd, int32_t length) override LOCKS_EXCLUDED(file_mutex_);

 protected:
  void Output(const char* data, int32_t length) override LOCKS_EXCLUDED(file_mutex_);
  // A chunk's records in few writes (writev).
  void OutputRecords(const LogRecord* records, size_t count) override LOCKS_EXCLUDED(file_mutex_);
  void BeginDrain() override LOCKS_EXCLUDED(file_mutex_);

 private:
  const std::string file_name_;
  const std::shared_ptr<LogLossCounter> losses_;
  const bool takes_pipes_;  // the file access has pipes
  LogFileAccess* const access_;
  // Held around one write: the worker's records, or one piped record.
  Mutex file_mutex_;
  LogFile file_ GUARDED_BY(file_mutex_);
  // The file refused a piped record: they all go through the queue now.
  std::atomic<bool> queue_piped_{false};
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_QUEUED_FILE_LOG_SINK_H_

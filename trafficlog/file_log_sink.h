#ifndef PORTWICK_TRAFFICLOG_FILE_LOG_SINK_H_
#define PORTWICK_TRAFFICLOG_FILE_LOG_SINK_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/mutex.h"
#include "trafficlog/log_file.h"
#include "trafficlog/log_file_access.h"
#include "trafficlog/log_loss.h"
#include "trafficlog/sync_log_sink.h"

namespace portwick {

// Appends each record to the traffic log file on the writing relay thread,
// before the record is sent on. The file stays open for the sink's life (see
// LogFile: created with the first record, opened again after a rotation or
// removal). Deliveries of one sink are serialised, so records from
// concurrent relays lie whole one after another. A record that can't be
// written is counted in `losses` (may be null); the next one tries again.
//
// `access` is borrowed and must outlive the sink; `losses` is shared (a sink
// left behind at exit may still count). Thread safety: as LogSink.
class FileLogSink : public SyncLogSink {
 public:
  explicit FileLogSink(std::string file_name, LogFileAccess* access = LogFileAccess::Default(),
                       std::shared_ptr<LogLossCounter> losses = nullptr);

  const std::string& file_name() const { return file_name_; }

  // A record from a pipe is written as Output writes one, under the same lock.
  bool TakesPipedRecords() const override { return takes_pipes_; }
  bool WritePiped(int pipe_fd, int32_t length) override LOCKS_EXCLUDED(mutex_);

 protected:
  void Output(const char* data, int32_t length) override LOCKS_EXCLUDED(mutex_);

 private:
  const std::string file_name_;
  const std::shared_ptr<LogLossCounter> losses_;
  const bool takes_pipes_;  // the file access has pipes
  Mutex mutex_;             // held around one record's write
  LogFile file_ GUARDED_BY(mutex_);
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_FILE_LOG_SINK_H_

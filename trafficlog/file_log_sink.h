#ifndef PORTWICK_TRAFFICLOG_FILE_LOG_SINK_H_
#define PORTWICK_TRAFFICLOG_FILE_LOG_SINK_H_

#include <cstdint>
#include <string>

#include "base/mutex.h"
#include "trafficlog/log_file_access.h"
#include "trafficlog/sync_log_sink.h"

namespace portwick {

// Appends each record to the traffic log file on the writing relay thread:
// open, write every byte, close, for every record. Deliveries of one sink are
// serialised, so records from concurrent relays lie whole one after another.
// A record whose open fails is dropped silently; the next one tries again.
// The file is neither opened nor created before the first record.
//
// `access` is borrowed and must outlive the sink. Thread safety: as LogSink.
class FileLogSink : public SyncLogSink {
 public:
  explicit FileLogSink(std::string file_name, LogFileAccess* access = LogFileAccess::Default());

  const std::string& file_name() const { return file_name_; }

 protected:
  void Output(const char* data, int32_t length) override LOCKS_EXCLUDED(mutex_);

 private:
  const std::string file_name_;
  LogFileAccess* const access_;
  Mutex mutex_;  // held around one record's open, write and close
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_FILE_LOG_SINK_H_

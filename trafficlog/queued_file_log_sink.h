#ifndef PORTWICK_TRAFFICLOG_QUEUED_FILE_LOG_SINK_H_
#define PORTWICK_TRAFFICLOG_QUEUED_FILE_LOG_SINK_H_

#include <cstdint>
#include <memory>
#include <string>

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

 protected:
  void Output(const char* data, int32_t length) override;
  // A chunk's records in few writes (writev).
  void OutputRecords(const LogRecord* records, size_t count) override;
  void BeginDrain() override;

 private:
  const std::string file_name_;
  const std::shared_ptr<LogLossCounter> losses_;
  LogFile file_;  // opened on the owner's thread, then the worker's only
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_QUEUED_FILE_LOG_SINK_H_

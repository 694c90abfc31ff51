#ifndef PORTWICK_TRAFFICLOG_QUEUED_FILE_LOG_SINK_H_
#define PORTWICK_TRAFFICLOG_QUEUED_FILE_LOG_SINK_H_

#include <cstdint>
#include <optional>
#include <string>

#include "trafficlog/log_file.h"
#include "trafficlog/log_file_access.h"
#include "trafficlog/queued_log_sink.h"

namespace portwick {

// Appends the records to the traffic log file on its worker thread. The file
// is opened once per drain, gets every record of that drain appended and is
// closed at its end; no descriptor is kept between drains. When the open
// fails the record is dropped silently and the next record tries again. The
// file content is the same as with FileLogSink: the records back to back.
//
// `access` is borrowed and must outlive the sink. Thread safety: as
// QueuedLogSink.
class QueuedFileLogSink : public QueuedLogSink {
 public:
  explicit QueuedFileLogSink(std::string file_name, Options options = {},
                             LogFileAccess* access = LogFileAccess::Default());
  // Stops the worker (delivering what is queued) before the name goes.
  ~QueuedFileLogSink() override;

  const std::string& file_name() const { return file_name_; }

 protected:
  void Output(const char* data, int32_t length) override;
  void EndDrain() override;

 private:
  const std::string file_name_;
  LogFileAccess* const access_;
  std::optional<LogFile> file_;  // worker thread only; open during a drain
};

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_QUEUED_FILE_LOG_SINK_H_

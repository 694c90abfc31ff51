#include "trafficlog/queued_file_log_sink.h"

#include <utility>

namespace portwick {

QueuedFileLogSink::QueuedFileLogSink(std::string file_name, Options options, LogFileAccess* access)
    : QueuedLogSink(std::move(options)), file_name_(std::move(file_name)), access_(access) {}

QueuedFileLogSink::~QueuedFileLogSink() { Stop(); }

void QueuedFileLogSink::Output(const char* data, int32_t length) {
  if (!file_ || !file_->IsOpen()) {
    file_.reset();
    file_.emplace(access_, file_name_);
    if (!file_->IsOpen()) return;  // dropped; the next record tries again
  }
  file_->Append(data, static_cast<size_t>(length));
}

void QueuedFileLogSink::EndDrain() { file_.reset(); }

}  // namespace portwick

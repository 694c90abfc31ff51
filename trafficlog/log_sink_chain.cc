#include "trafficlog/log_sink_chain.h"

#include <algorithm>

namespace portwick {

void LogSinkChain::AddSink(LogSink* sink) {
  if (sink != nullptr) sinks_.push_back(sink);
}

void LogSinkChain::Write(LogCall& call, const char* data, int32_t length) {
  LogSinkBase::Write(call, data, length);
  for (LogSink* sink : sinks_) {
    LogCall child_call;
    sink->Write(child_call, call.output_data, call.output_length);
    const int32_t child_length = sink->OutputLength(child_call);
    call.output_data = sink->OutputData(child_call);
    call.output_length = child_length;
    sink->ReleaseOutput(child_call);
  }
}

bool LogSinkChain::LogsNothing() const {
  return std::all_of(sinks_.begin(), sinks_.end(),
                     [](const LogSink* sink) { return sink->LogsNothing(); });
}

LogSink* LogSinkChain::OnlyLogging() const {
  LogSink* logging = nullptr;
  for (LogSink* sink : sinks_) {
    if (sink->LogsNothing()) continue;
    if (logging != nullptr) return nullptr;
    logging = sink;
  }
  return logging;
}

bool LogSinkChain::TakesPipedRecords() const {
  const LogSink* logging = OnlyLogging();
  return logging != nullptr && logging->TakesPipedRecords();
}

bool LogSinkChain::WritePiped(int pipe_fd, int32_t length) {
  LogSink* logging = OnlyLogging();
  return logging != nullptr && logging->WritePiped(pipe_fd, length);
}

void LogSinkChain::Process(LogCall& /*call*/) {}

}  // namespace portwick

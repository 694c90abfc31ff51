#include "trafficlog/log_sink_base.h"

namespace portwick {

void LogSinkBase::Write(LogCall& call, const char* data, int32_t length) {
  call.input_data = data;
  call.input_length = length;
  call.output_data = data;
  call.output_length = length;
  if (length < 0) return;
  Process(call);
}

void LogSinkBase::ReleaseOutput(LogCall& /*call*/) {}

const char* LogSinkBase::OutputData(const LogCall& call) const { return call.output_data; }

int32_t LogSinkBase::OutputLength(const LogCall& call) const { return call.output_length; }

}  // namespace portwick

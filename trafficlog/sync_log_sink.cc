#include "trafficlog/sync_log_sink.h"

namespace portwick {

void SyncLogSink::Process(LogCall& call) { Output(call.output_data, call.output_length); }

}  // namespace portwick

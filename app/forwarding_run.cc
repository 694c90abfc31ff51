#include "app/forwarding_run.h"

#include <string>

namespace portwick {

ForwardingRun::~ForwardingRun() {
  // The sinks first, while relay threads and workers can still hand their
  // last text to the pane; the listener goes with the members.
  ReleaseSinks({});
}

Status ForwardingRun::Start(const RunSettings& settings, OutputPane* pane,
                            const ServeEvents& serve_events) {
  if (listener_.IsRunning()) return Status::Error("start", 0, "Already running");
  listener_.SetLogSink(BuildLogSinks(sinks_, settings.log, pane, serve_events));
  std::string error;
  if (!listener_.Start(settings.local_port, settings.remote_host, settings.remote_port, &error)) {
    return Status::Error("listen", 0, error);
  }
  return Status();
}

void ForwardingRun::StopListening() { listener_.Stop(); }

void ForwardingRun::ReleaseSinks(const ServeEvents& serve_events) {
  portwick::ReleaseLogSinks(sinks_, serve_events);
}

}  // namespace portwick

#include "app/forwarding_run.h"

namespace portwick {

ForwardingRun::~ForwardingRun() {
  // The sinks first, while relay threads and workers can still hand their
  // last text to the pane; the listener goes with the members.
  ReleaseSinks({});
}

Status ForwardingRun::Start(const RunSettings& settings, OutputPane* pane,
                            const ServeEvents& serve_events) {
  if (listener_.IsRunning()) return Status::Error("start", 0, "Already running");
  ListenerConfig config;
  config.bind = settings.bind_address;
  config.bind.set_port(static_cast<uint16_t>(settings.local_port & 0xFFFF));
  config.destination_host = settings.remote_host;
  config.destination_port = static_cast<uint16_t>(settings.remote_port & 0xFFFF);
  config.log_sink = BuildLogSinks(sinks_, settings.log, pane, serve_events);
  config.observer = settings.observer;
  return listener_.Start(config);
}

void ForwardingRun::StopListening() { listener_.Stop(); }

void ForwardingRun::ReleaseSinks(const ServeEvents& serve_events) {
  portwick::ReleaseLogSinks(sinks_, serve_events);
}

}  // namespace portwick

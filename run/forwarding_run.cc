#include "run/forwarding_run.h"

#include <cstdint>
#include <string>
#include <utility>

#include "capture/observer_fan_out.h"
#include "capture/pcapng_writer.h"
#include "capture/trace_writer.h"
#include "run/heap_trimmer.h"

namespace portwick {

ForwardingRun::ForwardingRun() { listeners_.push_back(std::make_unique<ProxyListener>()); }

ForwardingRun::~ForwardingRun() {
  // The listeners first: their Stop resets the sessions, so relay threads
  // blocked in a send (a destination that doesn't read) end and give back
  // the sink calls the release waits for. Then the sinks, and what the
  // sessions said.
  StopListening();
  if (ReleaseSinks({}).complete) FinishOutputs({});
}

Status ForwardingRun::Start(const RunSettings& settings, OutputPane* pane,
                            const ServeEvents& serve_events) {
  if (IsRunning()) return Status::Error("start", 0, "Already running");
  const std::vector<ForwardSettings>& forwards = settings.forwards;
  if (forwards.empty()) return Status::Error("start", 0, "Nothing to forward");
  FinishOutputs(serve_events);

  const SessionOutputs& outputs = settings.outputs;
  std::vector<std::shared_ptr<SessionEventWriter>> writers;
  if (!outputs.pcap_file.empty()) {
    auto pcap = std::make_shared<PcapngWriter>(outputs.pcap_file, outputs.on_pcap_failure);
    if (!pcap->status().ok()) {
      return Status::Error(Status::Kind::kPcap, "pcap", pcap->status().error_number(),
                           pcap->status().reason());
    }
    writers.push_back(std::move(pcap));
  }
  if (outputs.trace != TraceMode::kOff) {
    writers.push_back(std::make_shared<TraceWriter>(outputs.trace_fd, outputs.trace));
  }
  capture_ =
      outputs.capture_limit > 0 ? std::make_shared<CaptureStore>(outputs.capture_limit) : nullptr;
  tracker_ = std::make_shared<SessionTracker>();
  writers_ = writers.empty() ? nullptr : std::make_shared<QueuedObserver>(std::move(writers));
  auto observers = std::make_shared<ObserverFanOut>();
  observers->Add(capture_);
  observers->Add(writers_);
  observers->Add(settings.observer);
  // Gives a burst's memory back once its sessions are gone.
  observers->Add(std::make_shared<HeapTrimmer>());
  // Last: when it has seen a session close, every other observer has too.
  observers->Add(tracker_);

  std::shared_ptr<LogSinkHandle> log_sink = BuildLogSinks(sinks_, settings.log, pane, serve_events);
  while (listeners_.size() < forwards.size()) {
    listeners_.push_back(std::make_unique<ProxyListener>());
  }
  for (size_t i = 0; i < forwards.size(); ++i) {
    ListenerConfig config;
    config.bind = forwards[i].bind;
    config.destination_host = forwards[i].remote_host;
    config.destination_port = forwards[i].remote_port;
    config.log_sink = log_sink;
    config.observer = observers;
    config.conditions = forwards[i].conditions;
    config.limits = settings.limits;
    if (forwards.size() > 1) {
      config.observer = std::make_shared<ForwardTagger>(static_cast<uint32_t>(i + 1), observers);
    }
    const Status started = listeners_[i]->Start(config);
    if (!started.ok()) {
      failed_forward_ = i;
      StopListening();
      return started;
    }
  }
  return Status();
}

bool ForwardingRun::SetConditions(size_t forward, std::vector<Condition> conditions) {
  if (forward >= listeners_.size() || !listeners_[forward]->IsRunning()) return false;
  listeners_[forward]->SetConditions(std::move(conditions));
  return true;
}

bool ForwardingRun::IsRunning() const {
  for (const auto& listener : listeners_) {
    if (listener->IsRunning()) return true;
  }
  return false;
}

int ForwardingRun::BoundPort(size_t forward) const {
  return forward < listeners_.size() ? listeners_[forward]->BoundPort() : 0;
}

Endpoint ForwardingRun::BoundEndpoint(size_t forward) const {
  return forward < listeners_.size() ? listeners_[forward]->BoundEndpoint() : Endpoint();
}

void ForwardingRun::StopListening() {
  for (const auto& listener : listeners_) listener->Stop();
}

SinkRelease ForwardingRun::ReleaseSinks(const ServeEvents& serve_events) {
  const SinkRelease release = ReleaseLogSinksBefore(
      sinks_, std::chrono::steady_clock::now() + stop_time_limit_, serve_events);
  if (!release.complete) {
    // Sessions stuck in the sinks never end; nothing more to wait for.
    left_sinks_behind_ = true;
    return release;
  }
  if (!IsRunning()) FinishOutputs(serve_events);
  return release;
}

void ForwardingRun::FinishOutputs(const ServeEvents& serve_events) {
  // The sessions were reset when the listeners stopped; their last events
  // come from their relay threads as these wind down.
  if (tracker_) {
    tracker_->WaitUntilIdle(std::chrono::steady_clock::now() + kSessionsEndTime, serve_events);
    tracker_.reset();
  }
  // Writes out everything queued; the writers close their files when the
  // last session lets go of them.
  if (writers_) {
    writers_->Stop();
    writers_.reset();
  }
}

namespace {

std::string Records(uint64_t count) {
  return std::to_string(count) + (count == 1 ? " record" : " records");
}

std::string RecordsAndBytes(uint64_t records, uint64_t bytes) {
  return Records(records) + " (" + std::to_string(bytes) + (bytes == 1 ? " byte)" : " bytes)");
}

}  // namespace

std::string UndeliveredText(const SinkRelease& release) {
  if (release.complete) return "";
  std::string text;
  const auto add = [&text](const std::string& part) {
    if (!text.empty()) text += ", ";
    text += part;
  };
  if (release.file_records > 0) {
    add(RecordsAndBytes(release.file_records, release.file_bytes) + " not written to the log file");
  }
  if (release.pane_records > 0) {
    add(RecordsAndBytes(release.pane_records, release.pane_bytes) + " not shown in the output");
  }
  if (release.records_in_flight > 0) {
    add(Records(release.records_in_flight) + " of sessions still being logged");
  }
  if (text.empty()) text = "the log's last delivery did not end";
  return text;
}

}  // namespace portwick

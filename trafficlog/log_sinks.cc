#include "trafficlog/log_sinks.h"

#include <utility>

#include "trafficlog/file_log_sink.h"
#include "trafficlog/queued_file_log_sink.h"
#include "trafficlog/queued_log_sink.h"
#include "trafficlog/queued_window_log_sink.h"
#include "trafficlog/window_log_sink.h"

namespace portwick {

namespace {

// Lets a queued sink's worker finish while serving events; destroying the
// sink afterwards then finds the worker ended.
void StopIfQueued(LogSinkBase* sink, const ServeEvents& serve_events) {
  if (auto* queued = dynamic_cast<QueuedLogSink*>(sink)) queued->Stop(serve_events);
}

}  // namespace

LogSinks::~LogSinks() { ReleaseLogSinks(*this, {}); }

std::shared_ptr<LogSinkHandle> BuildLogSinks(LogSinks& sinks, const LogSettings& settings,
                                             OutputPane* pane, const ServeEvents& serve_events) {
  ReleaseLogSinks(sinks, serve_events);

  auto chain = std::make_unique<LogSinkChain>();
  QueuedLogSink::Options options;
  options.serve_events = serve_events;
  if (settings.write_to_file) {
    if (settings.log_synchronously) {
      sinks.file_sink = std::make_unique<FileLogSink>(settings.log_file_name);
    } else {
      sinks.file_sink = std::make_unique<QueuedFileLogSink>(settings.log_file_name, options);
    }
    chain->AddSink(sinks.file_sink.get());
  }
  if (settings.show_in_output) {
    if (settings.log_synchronously) {
      sinks.window_sink = std::make_unique<WindowLogSink>(pane);
    } else {
      sinks.window_sink = std::make_unique<QueuedWindowLogSink>(pane, options);
    }
    chain->AddSink(sinks.window_sink.get());
  }
  sinks.chain = std::move(chain);
  sinks.handle = std::make_shared<LogSinkHandle>(sinks.chain.get());
  return sinks.handle;
}

void ReleaseLogSinks(LogSinks& sinks, const ServeEvents& serve_events) {
  // Take everything first: a nested call made from serve_events below then
  // finds nothing of ours to release.
  std::shared_ptr<LogSinkHandle> handle = std::move(sinks.handle);
  std::unique_ptr<LogSinkBase> file_sink = std::move(sinks.file_sink);
  std::unique_ptr<LogSinkBase> window_sink = std::move(sinks.window_sink);
  std::unique_ptr<LogSinkChain> chain = std::move(sinks.chain);
  if (!handle && !file_sink && !window_sink && !chain) return;

  const bool was_releasing = std::exchange(sinks.releasing, true);
  if (handle) handle->Detach(serve_events);
  StopIfQueued(file_sink.get(), serve_events);
  StopIfQueued(window_sink.get(), serve_events);
  file_sink.reset();
  window_sink.reset();
  chain.reset();
  sinks.releasing = was_releasing;
}

}  // namespace portwick

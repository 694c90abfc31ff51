#include "trafficlog/log_sinks.h"

#include <utility>
#include <vector>

#include "base/mutex.h"
#include "base/no_destructor.h"
#include "trafficlog/file_log_sink.h"
#include "trafficlog/queued_file_log_sink.h"
#include "trafficlog/queued_log_sink.h"
#include "trafficlog/queued_window_log_sink.h"
#include "trafficlog/window_log_sink.h"

namespace portwick {

namespace {

// Lets a queued sink's worker finish while serving events; destroying the
// sink afterwards then finds the worker ended. With a deadline, false when
// the worker had not ended by then.
bool StopIfQueued(LogSinkBase* sink, const std::chrono::steady_clock::time_point* deadline,
                  const ServeEvents& serve_events) {
  auto* queued = dynamic_cast<QueuedLogSink*>(sink);
  if (queued == nullptr) return true;
  if (deadline == nullptr) {
    queued->Stop(serve_events);
    return true;
  }
  return queued->StopBefore(*deadline, serve_events);
}

// What a queued sink still holds, as records and their bytes.
void CountQueued(LogSinkBase* sink, uint64_t* records, uint64_t* bytes) {
  auto* queued = dynamic_cast<QueuedLogSink*>(sink);
  if (queued == nullptr) return;
  const size_t held_records = queued->QueuedRecords();
  // Each record counts its length + 1 against the queue's bound.
  const size_t held_bytes = queued->QueuedBytes();
  *records += held_records;
  *bytes += held_bytes >= held_records ? held_bytes - held_records : 0;
}

// Sinks that threads still use when the process ends: kept reachable, never
// destroyed.
struct LeftBehind {
  Mutex mutex;
  std::vector<std::shared_ptr<void>> objects GUARDED_BY(mutex);
};

LeftBehind& LeftBehindObjects() {
  static NoDestructor<LeftBehind> objects;
  return *objects.get();
}

template <typename T>
void LeaveBehind(std::unique_ptr<T> object) {
  if (!object) return;
  LeftBehind& held = LeftBehindObjects();
  MutexLock lock(&held.mutex);
  // A deleter that does nothing: the object must outlive every thread.
  held.objects.emplace_back(object.release(), [](void*) {});
}

}  // namespace

LogSinks::~LogSinks() { ReleaseLogSinks(*this, {}); }

std::shared_ptr<LogSinkHandle> BuildLogSinks(LogSinks& sinks, const LogSettings& settings,
                                             OutputPane* pane, const ServeEvents& serve_events) {
  ReleaseLogSinks(sinks, serve_events);

  sinks.losses = std::make_shared<LogLossCounter>(sinks.loss_listener);
  auto chain = std::make_unique<LogSinkChain>();
  QueuedLogSink::Options options;
  options.serve_events = serve_events;
  if (settings.write_to_file) {
    if (settings.log_synchronously) {
      sinks.file_sink = std::make_unique<FileLogSink>(settings.log_file_name,
                                                      LogFileAccess::Default(), sinks.losses);
    } else {
      sinks.file_sink = std::make_unique<QueuedFileLogSink>(settings.log_file_name, options,
                                                            LogFileAccess::Default(), sinks.losses);
    }
    chain->AddSink(sinks.file_sink.get());
  }
  if (settings.show_in_output) {
    if (settings.log_synchronously) {
      sinks.window_sink = std::make_unique<WindowLogSink>(pane);
    } else {
      // The pane shows only the newest few MiB of text and takes records
      // over without waiting, so a deep queue would only hold memory.
      QueuedLogSink::Options window_options = options;
      window_options.max_queued_bytes = QueuedWindowLogSink::kMaxQueuedBytes;
      sinks.window_sink = std::make_unique<QueuedWindowLogSink>(pane, window_options);
    }
    chain->AddSink(sinks.window_sink.get());
  }
  sinks.chain = std::move(chain);
  sinks.handle = std::make_shared<LogSinkHandle>(sinks.chain.get());
  return sinks.handle;
}

namespace {

SinkRelease Release(LogSinks& sinks, const std::chrono::steady_clock::time_point* deadline,
                    const ServeEvents& serve_events) {
  // Take everything first: a nested call made from serve_events below then
  // finds nothing of ours to release.
  std::shared_ptr<LogSinkHandle> handle = std::move(sinks.handle);
  std::unique_ptr<LogSinkBase> file_sink = std::move(sinks.file_sink);
  std::unique_ptr<LogSinkBase> window_sink = std::move(sinks.window_sink);
  std::unique_ptr<LogSinkChain> chain = std::move(sinks.chain);
  SinkRelease result;
  if (!handle && !file_sink && !window_sink && !chain) return result;

  const bool was_releasing = std::exchange(sinks.releasing, true);
  bool complete = true;
  if (handle) {
    if (deadline == nullptr) {
      handle->Detach(serve_events);
    } else {
      complete = handle->DetachBefore(*deadline, serve_events);
    }
  }
  // Past the deadline these only ask the workers to end and look once.
  complete = StopIfQueued(file_sink.get(), deadline, serve_events) && complete;
  complete = StopIfQueued(window_sink.get(), deadline, serve_events) && complete;
  if (complete) {
    file_sink.reset();
    window_sink.reset();
    chain.reset();
  } else {
    result.complete = false;
    result.records_in_flight = handle ? handle->UsesInFlight() : 0;
    CountQueued(file_sink.get(), &result.file_records, &result.file_bytes);
    CountQueued(window_sink.get(), &result.pane_records, &result.pane_bytes);
    for (LogSinkBase* sink : {file_sink.get(), window_sink.get()}) {
      if (auto* queued = dynamic_cast<QueuedLogSink*>(sink)) queued->LeaveBehind();
    }
    LeaveBehind(std::move(file_sink));
    LeaveBehind(std::move(window_sink));
    LeaveBehind(std::move(chain));
  }
  sinks.releasing = was_releasing;
  return result;
}

}  // namespace

void ReleaseLogSinks(LogSinks& sinks, const ServeEvents& serve_events) {
  Release(sinks, nullptr, serve_events);
}

SinkRelease ReleaseLogSinksBefore(LogSinks& sinks, std::chrono::steady_clock::time_point deadline,
                                  const ServeEvents& serve_events) {
  return Release(sinks, &deadline, serve_events);
}

}  // namespace portwick

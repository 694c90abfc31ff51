#ifndef PORTWICK_TRAFFICLOG_LOG_SINKS_H_
#define PORTWICK_TRAFFICLOG_LOG_SINKS_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/log_sink_handle.h"
#include "trafficlog/log_loss.h"
#include "trafficlog/log_sink_base.h"
#include "trafficlog/log_sink_chain.h"
#include "trafficlog/output_pane.h"

namespace portwick {

// How the traffic of one run is logged.
struct LogSettings {
  bool write_to_file = false;
  bool show_in_output = false;
  bool log_synchronously = false;
  std::string log_file_name;
};

// The sinks of one run and the handle through which sessions reach them.
// Owned by value by whoever starts forwarding (console mode, main window);
// only BuildLogSinks and ReleaseLogSinks change it, on the owner's thread.
struct LogSinks {
  LogSinks() = default;
  LogSinks(const LogSinks&) = delete;
  LogSinks& operator=(const LogSinks&) = delete;
  // A last resort: releases what is left without serving events. Owners call
  // ReleaseLogSinks themselves, with their serve_events.
  ~LogSinks();

  std::unique_ptr<LogSinkBase> file_sink;    // FileLogSink or QueuedFileLogSink
  std::unique_ptr<LogSinkBase> window_sink;  // WindowLogSink or QueuedWindowLogSink
  std::unique_ptr<LogSinkChain> chain;       // borrows the two sinks above
  std::shared_ptr<LogSinkHandle> handle;     // shared with the listener
  // True while a ReleaseLogSinks on this object is in progress.
  bool releasing = false;

  // Told once per run about the first record the file sinks lost; set by
  // the owner before BuildLogSinks (see LogLossCounter for its thread).
  LogLossCounter::Listener loss_listener;
  // What the file sinks of the latest run lost; made by BuildLogSinks and
  // kept after the release, so the totals can be read after a stop.
  std::shared_ptr<LogLossCounter> losses;
};

// What a release with a time limit left undelivered when the limit passed.
struct SinkRelease {
  // True when everything was delivered and the sinks are gone. Otherwise
  // the sinks were left behind, never to be destroyed: threads still use
  // them, and the pane they borrow must then never be destroyed either.
  bool complete = true;
  // Records that relay threads were still handing to the sinks (stuck in a
  // synchronous sink's delivery or waiting for room in a full queue).
  uint64_t records_in_flight = 0;
  // Records (and their bytes) still queued for the file and for the pane.
  uint64_t file_records = 0;
  uint64_t file_bytes = 0;
  uint64_t pane_records = 0;
  uint64_t pane_bytes = 0;
};

// Releases the earlier sinks (ReleaseLogSinks), then builds a chain and the
// sinks `settings` asks for: the file sink before the window sink, each
// synchronous or queued as asked. The chain is built whatever the settings
// say. The file is not opened here. `pane` is borrowed by the window sink and
// must outlive it; queued sinks keep `serve_events` for their Stop. Returns
// the new handle (also kept in `sinks.handle`) for the listener.
//
// Called inside the serve_events of a release in progress, it builds new
// sinks as usual; the outer release goes on with the ones it had taken.
std::shared_ptr<LogSinkHandle> BuildLogSinks(LogSinks& sinks, const LogSettings& settings,
                                             OutputPane* pane,
                                             const ServeEvents& serve_events = {});

// Takes the sinks out of `sinks` (all pointers null afterwards), detaches
// the handle so that no session calls them again (sessions that still hold
// it end), waits for calls in flight and for the queued sinks' workers to
// deliver what they hold, calling `serve_events` between short waits, and
// then destroys the file sink, the window sink and the chain, in that order,
// on the calling thread. Calling it with nothing to release does nothing.
//
// A nested call from inside `serve_events` releases only what `sinks` holds
// at that moment (nothing, unless a nested BuildLogSinks put new sinks
// there); sinks the outer call has taken are never touched twice.
void ReleaseLogSinks(LogSinks& sinks, const ServeEvents& serve_events);

// The same, but waits for the sessions' calls and the queued sinks' workers
// only until `deadline`. When they have not all ended by then, the sinks are
// not destroyed but left behind for the rest of the process (see
// SinkRelease), and the result says what they had not delivered.
SinkRelease ReleaseLogSinksBefore(LogSinks& sinks, std::chrono::steady_clock::time_point deadline,
                                  const ServeEvents& serve_events);

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_LOG_SINKS_H_

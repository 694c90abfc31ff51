#ifndef PORTWICK_TRAFFICLOG_LOG_SINKS_H_
#define PORTWICK_TRAFFICLOG_LOG_SINKS_H_

#include <memory>
#include <string>

#include "engine/log_sink_handle.h"
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

}  // namespace portwick

#endif  // PORTWICK_TRAFFICLOG_LOG_SINKS_H_

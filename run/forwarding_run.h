#ifndef PORTWICK_RUN_FORWARDING_RUN_H_
#define PORTWICK_RUN_FORWARDING_RUN_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/endpoint.h"
#include "base/status.h"
#include "capture/capture_store.h"
#include "capture/queued_observer.h"
#include "capture/session_tracker.h"
#include "capture/trace_mode.h"
#include "engine/conditions/condition.h"
#include "engine/conditions/session_limits.h"
#include "engine/log_sink_handle.h"
#include "engine/proxy_listener.h"
#include "engine/session_observer.h"
#include "trafficlog/log_loss.h"
#include "trafficlog/log_sinks.h"
#include "trafficlog/output_pane.h"

namespace portwick {

// One forward of a run: where it listens and where it goes.
struct ForwardSettings {
  Endpoint bind;  // address and port
  std::string remote_host;
  uint16_t remote_port = 0;
  // The traffic conditions on its sessions, in the order given.
  std::vector<Condition> conditions;
};

// What a run keeps and writes of its sessions besides the traffic log.
struct SessionOutputs {
  // Memory for the capture store; 0 keeps no store.
  uint64_t capture_limit = CaptureStore::kDefaultLimit;
  // The console trace, written to `trace_fd` (borrowed).
  TraceMode trace = TraceMode::kOff;
  int trace_fd = 1;
  // A pcapng file of the sessions; empty: none.
  std::string pcap_file;
  // Called once (on the writers' worker thread) when writing the pcapng
  // file fails.
  std::function<void(const Status&)> on_pcap_failure;
};

// What one run forwards and how it logs.
struct RunSettings {
  // At least one. The main window gives one; the console one or several
  // (option forward). Each forward gets a listener of its own; with more than
  // one, the observers see session ids tagged with the forward's number 1,
  // 2, ... (capture/session_label.h). They share the sinks and the outputs.
  std::vector<ForwardSettings> forwards;
  // The limits on every forward's sessions.
  SessionLimits limits;
  LogSettings log;
  // Told about every session of the run; may be null.
  std::shared_ptr<SessionObserver> observer;
  SessionOutputs outputs;
};

// Owns one forwarding run: the listeners, the log sinks they write to, the
// session observers (capture store, console trace, pcapng writer, the
// owner's own), and the order in which they start and stop. The console and
// the main window both drive their runs through it, so the sequence is
// written once:
//
//   Start:          release the earlier sinks, build new ones and the
//                   observers, listen
//   StopListening:  stop accepting; open sessions are reset
//   ReleaseSinks:   deliver what queued sinks hold, then destroy them; when
//                   no longer listening, wait (at most kSessionsEndTime) for
//                   every session's last event and write out everything the
//                   trace and the pcapng file still hold
//
// Stop is the last two in that order; the window shows its titles between
// them. Destruction stops too: the listeners first, so that sessions blocked
// in a send end and give their sink calls back, then the sinks, then the
// observers' output. The capture store of a run stays readable after its
// Stop, until the next Start.
//
// Releasing the sinks waits at most stop_time_limit() (kStopTimeLimit
// unless set) for sessions still handing records to them and for the queued
// sinks to deliver: a log target can block for good (a FIFO nobody reads, a
// full pipe on standard output). Past the limit the sinks are left behind
// undestroyed, the result says what they had not delivered, and
// left_sinks_behind() turns true: the pane lent to Start must then never be
// destroyed, so the owner ends the process (_exit) instead of tearing down.
//
// Records the file sinks could not write are counted (log_loss()); the
// first loss of each run is reported to the listener set with
// SetLogLossListener, on the thread that lost it.
//
// One owner thread
// calls everything (the console's main thread, the GUI thread); `serve_events`
// is called over and over while a release waits, for threads that may be
// waiting for the owner thread.
class ForwardingRun {
 public:
  // How long a stop waits for the reset sessions' last events.
  static constexpr std::chrono::milliseconds kSessionsEndTime{2000};

  ForwardingRun();
  ForwardingRun(const ForwardingRun&) = delete;
  ForwardingRun& operator=(const ForwardingRun&) = delete;
  ~ForwardingRun();

  // Releases the earlier sinks, builds the ones `settings.log` asks for and
  // the observers, and starts listening. Refused while running. When a
  // listener fails, the ones already started stop again and the new sinks
  // stay until the next Start, ReleaseSinks or destruction; the status is the
  // listener's: the step that failed ("socket", "bind", "listen", "thread";
  // "start" while running) and the system's reason; "pcap" when the pcapng
  // file can't be created (nothing listens then); "start" without a forward. `pane` (for "Show in
  // Output") is borrowed and must outlive the sinks.
  Status Start(const RunSettings& settings, OutputPane* pane, const ServeEvents& serve_events);

  static constexpr std::chrono::seconds kStopTimeLimit{5};

  void StopListening();
  SinkRelease ReleaseSinks(const ServeEvents& serve_events);
  SinkRelease Stop(const ServeEvents& serve_events) {
    StopListening();
    return ReleaseSinks(serve_events);
  }

  std::chrono::milliseconds stop_time_limit() const { return stop_time_limit_; }
  void set_stop_time_limit(std::chrono::milliseconds limit) { stop_time_limit_ = limit; }
  // True once a release has left sinks behind (see above).
  bool left_sinks_behind() const { return left_sinks_behind_; }

  // Takes effect from the next Start.
  void SetLogLossListener(LogLossCounter::Listener listener) {
    sinks_.loss_listener = std::move(listener);
  }
  // What the file sinks of the latest run could not write (so far).
  LogLoss log_loss() const { return sinks_.losses ? sinks_.losses->Snapshot() : LogLoss(); }

  // Replaces the traffic conditions of forward `forward` while the run goes
  // on: its sessions accepted from now on draw from `conditions`, and its
  // open sessions follow them from their next chunk. False (and nothing
  // changes) when there is no such forward or it isn't running. The next
  // Start takes its settings' conditions again.
  bool SetConditions(size_t forward, std::vector<Condition> conditions);

  bool IsRunning() const;
  // The index of the forward whose listener failed in the last Start (0
  // with a single forward).
  size_t failed_forward() const { return failed_forward_; }
  // The port the first (or `forward`th) listener listens on (the system's
  // choice for port 0); 0 when stopped.
  int BoundPort(size_t forward = 0) const;
  Endpoint BoundEndpoint(size_t forward = 0) const;
  // True while ReleaseSinks is in progress (also inside its serve_events).
  bool releasing() const { return sinks_.releasing; }

  const ProxyListener& listener() const { return *listeners_.front(); }
  const LogSinks& log_sinks() const { return sinks_; }
  // The current (or last) run's capture store; null before the first Start
  // and when the run keeps none. Shared, so a viewer may keep it.
  std::shared_ptr<CaptureStore> capture() const { return capture_; }

 private:
  // Waits for the sessions' last events and stops the writers' queue.
  void FinishOutputs(const ServeEvents& serve_events);

  // The sinks before the listeners, which share their handle: members go in
  // reverse order, and the destructor has released the sinks by then.
  LogSinks sinks_;
  std::shared_ptr<CaptureStore> capture_;
  std::shared_ptr<SessionTracker> tracker_;
  std::shared_ptr<QueuedObserver> writers_;                // trace and pcapng writers
  std::vector<std::unique_ptr<ProxyListener>> listeners_;  // never empty
  std::chrono::milliseconds stop_time_limit_ = kStopTimeLimit;
  bool left_sinks_behind_ = false;
  size_t failed_forward_ = 0;
};

// "3 records (1200 bytes) not written to the log file, ..." for a release
// that was not complete; "" for one that was.
std::string UndeliveredText(const SinkRelease& release);

}  // namespace portwick

#endif  // PORTWICK_RUN_FORWARDING_RUN_H_

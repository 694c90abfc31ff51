#ifndef PORTWICK_APP_FORWARDING_RUN_H_
#define PORTWICK_APP_FORWARDING_RUN_H_

#include <memory>
#include <string>

#include "base/endpoint.h"
#include "base/status.h"
#include "engine/log_sink_handle.h"
#include "engine/proxy_listener.h"
#include "engine/session_observer.h"
#include "trafficlog/log_sinks.h"
#include "trafficlog/output_pane.h"

namespace portwick {

// What one run forwards and how it logs.
struct RunSettings {
  // The address to listen on (every IPv4 interface by default; "::" for
  // every IPv6 and IPv4 one); its port is ignored, local_port gives it.
  Endpoint bind_address = Endpoint::AnyIPv4(0);
  // Only the low 16 bits of the ports reach the network.
  int local_port = 1999;
  std::string remote_host = "localhost";
  int remote_port = 2007;
  LogSettings log;
  // Told about every session of the run; may be null.
  std::shared_ptr<SessionObserver> observer;
};

// Owns one forwarding run: the listener, the log sinks it writes to, and the
// order in which they start and stop. The console and the main window both
// drive their runs through it, so the sequence is written once:
//
//   Start:          release the earlier sinks, build new ones, listen
//   StopListening:  stop accepting; open sessions are reset
//   ReleaseSinks:   deliver what queued sinks hold, then destroy them
//
// Stop is the last two in that order; the window shows its titles between
// them. Destruction releases the sinks and then stops the listener.
//
// One owner thread
// calls everything (the console's main thread, the GUI thread); `serve_events`
// is called over and over while a release waits, for threads that may be
// waiting for the owner thread.
class ForwardingRun {
 public:
  ForwardingRun() = default;
  ForwardingRun(const ForwardingRun&) = delete;
  ForwardingRun& operator=(const ForwardingRun&) = delete;
  ~ForwardingRun();

  // Releases the earlier sinks, builds the ones `settings.log` asks for and
  // starts listening. Refused while running. When listening fails the new
  // sinks stay until the next Start, ReleaseSinks or destruction; the status
  // is the listener's: the step that failed ("socket", "bind", "listen",
  // "thread"; "start" while running) and the system's reason. `pane` (for "Show in Output") is
  // borrowed and must outlive the sinks.
  Status Start(const RunSettings& settings, OutputPane* pane, const ServeEvents& serve_events);

  void StopListening();
  void ReleaseSinks(const ServeEvents& serve_events);
  void Stop(const ServeEvents& serve_events) {
    StopListening();
    ReleaseSinks(serve_events);
  }

  bool IsRunning() const { return listener_.IsRunning(); }
  // The port listened on (the system's choice for port 0); 0 when stopped.
  int BoundPort() const { return listener_.BoundPort(); }
  // True while ReleaseSinks is in progress (also inside its serve_events).
  bool releasing() const { return sinks_.releasing; }

  const ProxyListener& listener() const { return listener_; }
  const LogSinks& log_sinks() const { return sinks_; }

 private:
  // The sinks before the listener, which shares their handle: members go in
  // reverse order, and the destructor has released the sinks by then.
  LogSinks sinks_;
  ProxyListener listener_;
};

}  // namespace portwick

#endif  // PORTWICK_APP_FORWARDING_RUN_H_

#include "app/console_runner.h"

#include <cstdio>

#include "app/command_line.h"
#include "app/forwarding_run.h"
#include "app/stdout_pane.h"
#include "app/stop_signals.h"

namespace portwick {

std::string ErrorReason(const std::string& error) {
  const size_t separator = error.find(": ");
  return separator == std::string::npos ? error : error.substr(separator + 2);
}

int RunConsole(const ProxySettings& settings) {
  if (!BlockStopSignals()) {
    std::fprintf(stderr, "%s: cannot block the stop signals\n", kApplicationTitle);
    return 1;
  }

  StdoutPane pane;
  ForwardingRun run;

  RunSettings run_settings;
  run_settings.local_port = settings.local_port;
  run_settings.remote_host = settings.remote_host;
  run_settings.remote_port = settings.remote_port;
  run_settings.log.write_to_file = !settings.log_file_name.empty();
  run_settings.log.log_file_name = settings.log_file_name;
  run_settings.log.show_in_output = settings.show_in_output;
  run_settings.log.log_synchronously = settings.log_synchronously;

  const Status started = run.Start(run_settings, &pane, {});
  if (!started.ok()) {
    // Only the low 16 bits of the port reach the network.
    std::fprintf(stderr, "%s: cannot listen on port %d: %s\n", kApplicationTitle,
                 settings.local_port & 0xFFFF, ErrorReason(started.reason()).c_str());
    run.ReleaseSinks({});
    return 1;
  }
  std::fprintf(stderr, "%s: forwarding *:%d -> %s:%d\n", kApplicationTitle, run.BoundPort(),
               settings.remote_host.c_str(), settings.remote_port);

  WaitForStopSignal();
  ExitAtNextStopSignal();
  // As the window's Stop command: the listener first, then the sinks, whose
  // release delivers what the queued ones still hold.
  run.Stop({});
  return 0;
}

}  // namespace portwick

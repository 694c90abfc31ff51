#include "app/console_runner.h"

#include <cstdio>

#include "app/command_line.h"
#include "app/stdout_pane.h"
#include "app/stop_signals.h"
#include "engine/proxy_listener.h"
#include "trafficlog/log_sinks.h"

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
  LogSinks sinks;  // declared before the listener, which holds its handle
  ProxyListener listener;

  LogSettings log_settings;
  log_settings.write_to_file = !settings.log_file_name.empty();
  log_settings.log_file_name = settings.log_file_name;
  log_settings.show_in_output = settings.show_in_output;
  log_settings.log_synchronously = settings.log_synchronously;
  listener.SetLogSink(BuildLogSinks(sinks, log_settings, &pane));

  std::string error;
  if (!listener.Start(settings.local_port, settings.remote_host, settings.remote_port, &error)) {
    // Only the low 16 bits of the port reach the network.
    std::fprintf(stderr, "%s: cannot listen on port %d: %s\n", kApplicationTitle,
                 settings.local_port & 0xFFFF, ErrorReason(error).c_str());
    ReleaseLogSinks(sinks, {});
    return 1;
  }
  std::fprintf(stderr, "%s: forwarding *:%d -> %s:%d\n", kApplicationTitle, listener.BoundPort(),
               settings.remote_host.c_str(), settings.remote_port);

  WaitForStopSignal();
  ExitAtNextStopSignal();
  // As the window's Stop command: the listener first, then the sinks, whose
  // release delivers what the queued ones still hold.
  listener.Stop();
  ReleaseLogSinks(sinks, {});
  return 0;
}

}  // namespace portwick

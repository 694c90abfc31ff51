#ifndef PORTWICK_APP_CONSOLE_RUNNER_H_
#define PORTWICK_APP_CONSOLE_RUNNER_H_

#include <string>

#include "app/proxy_settings.h"

namespace portwick {

// Runs Portwick without a window: starts forwarding with `settings` at once,
// logs the traffic as the settings ask (file, standard output, synchronously
// or queued), reports on standard error
//   Portwick: forwarding *:<bound port> -> <host>:<port>
// and forwards until SIGINT or SIGTERM; then it stops the listener, releases
// the sinks (delivering what they still hold) and returns 0. A second signal
// during that stop ends the process at once. When the listener can't start it
// reports
//   Portwick: cannot listen on port <port>: <reason>
// and returns 1.
//
// Call on the main thread before any other thread exists (the stop signals
// must be blocked in every thread). Returns the process exit code.
int RunConsole(const ProxySettings& settings);

// The text after the step name of a listener error ("Cannot bind: Address
// already in use" gives "Address already in use").
std::string ErrorReason(const std::string& error);

}  // namespace portwick

#endif  // PORTWICK_APP_CONSOLE_RUNNER_H_

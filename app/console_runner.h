#ifndef PORTWICK_APP_CONSOLE_RUNNER_H_
#define PORTWICK_APP_CONSOLE_RUNNER_H_

#include <optional>
#include <string>
#include <vector>

#include "run/proxy_settings.h"

namespace portwick {

// Exit code of console mode for a command line it can't run: an unknown
// option or command, a port outside 0..65535, a bind address that is not an
// address.
inline constexpr int kExitUsage = 2;

// Console mode from the argument vector (args[0] is the program path) to the
// exit code:
// - the command `help` prints the help on standard output and goes on;
// - --help and -h print the help on standard output and return 0;
// - an unknown option or command is named on standard error, with a pointer
//   to --help, and returns kExitUsage:
//     Portwick: unknown option '--destinaton=localhost:2007'
//     Portwick: see 'portwick --help' for the options
// - a port outside 0..65535 (PortRangeError) or a bind address that is not
//   an IP address is reported on standard error and returns kExitUsage;
// - otherwise RunConsole(settings).
// Same threading rule as RunConsole.
int RunConsoleCommandLine(const std::vector<std::string>& args);

// The message for the first port of `settings` outside 0..65535, for example
//   the local port 70000 is outside 0..65535
// or nullopt when both ports are in range.
std::optional<std::string> PortRangeError(const ProxySettings& settings);

// Runs Portwick without a window: starts forwarding with `settings` at once,
// logs the traffic as the settings ask (file, standard output, synchronously
// or queued), reports on standard error
//   Portwick: forwarding *:<bound port> -> <host>:<port>
// (the bind address instead of '*' when one is given, IPv6 addresses in
// brackets: "[::1]:1999 -> [::1]:2007") and forwards until a stop signal
// (SIGINT, SIGTERM, SIGHUP or SIGQUIT); then it stops the listener, releases
// the sinks (delivering what they still hold) and returns 0. A second signal
// during that stop ends the process at once; a stop whose log doesn't finish
// within the run's time limit (a log target that blocks) says what was not
// delivered and ends the process with exit code 1. The first record the log
// file can't take is reported once on standard error; when records were
// lost, the stop says how many and returns 1. When the listener can't start
// it reports
//   Portwick: cannot listen on port <port>: <reason>
// ("on 127.0.0.1:<port>" with a bind address) and returns 1. The settings
// must have passed PortRangeError and ParseBindAddress.
//
// Call on the main thread before any other thread exists (the stop signals
// must be blocked in every thread). Returns the process exit code.
int RunConsole(const ProxySettings& settings);

}  // namespace portwick

#endif  // PORTWICK_APP_CONSOLE_RUNNER_H_

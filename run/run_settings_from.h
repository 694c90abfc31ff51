#ifndef PORTWICK_RUN_RUN_SETTINGS_FROM_H_
#define PORTWICK_RUN_RUN_SETTINGS_FROM_H_

#include "run/forwarding_run.h"
#include "run/proxy_settings.h"

namespace portwick {

// The run that `settings` asks for, as the console and the main window both
// start it:
// - without forwards, one from the bind address (every IPv4 interface when
//   empty) and local port to the remote host (without the brackets of an
//   IPv6 literal) and port;
// - the log file written when a name is given, "Show in Output" unless a
//   trace takes standard output, logging synchronously as asked;
// - the capture limit, the trace mode and the pcapng file as given;
// - each forward listening where --bind says unless it names an address of
//   its own;
// - the conditions: without forwards all of them on the one forward; with
//   forwards, those given before the first on every forward, then each
//   forward's own (a later one of a kind wins, see DrawConditions);
// - the session limits as given.
// Left to the caller: the observer, the trace's descriptor and what to do
// when the pcapng file fails. The bind address must have passed
// ParseBindAddress. A pure function; any thread.
RunSettings RunSettingsFrom(const ProxySettings& settings);

}  // namespace portwick

#endif  // PORTWICK_RUN_RUN_SETTINGS_FROM_H_

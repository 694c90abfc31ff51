#ifndef PORTWICK_UI_SESSIONS_SESSION_TEXTS_H_
#define PORTWICK_UI_SESSIONS_SESSION_TEXTS_H_

#include <chrono>
#include <cstdint>
#include <string>

#include "base/status.h"
#include "capture/capture_store.h"

namespace portwick {

// The words the window uses for sessions, sizes and failures. Pure
// functions; any thread.

// "connecting", "open", "half-closed (client FIN)", "closed: reset by
// server", "failed: connect: Connection refused", ...
std::string StateText(const CapturedSession& session);

// The destination connected to, or the one configured while connecting or
// after a failed connect ("localhost:2007").
std::string DestinationText(const CapturedSession& session);

// "0 B", "999 B", "1.0 KiB", "12.3 MiB", "1.50 GiB" (1024-based, three
// significant digits from KiB on).
std::string SizeText(uint64_t bytes);

// "0.3 ms", "12 ms", "4.56 s", "2 min 03 s", "1 h 02 min".
std::string DurationText(std::chrono::nanoseconds duration);

// What the status line says about a failure of the run (one line, with the
// system's reason):
//   listen:  "Cannot open port 1999: Address already in use"
//   connect: "Session 3: cannot connect to localhost:2007: Connection refused"
//   log:     "Cannot write the traffic log /x/y.log: Permission denied"
std::string ListenErrorText(int port, const Status& status);
std::string ConnectErrorText(const CapturedSession& session);
std::string LogFileErrorText(const std::string& file_name, const Status& status);

// What the status line shows of a run.
struct StatusFigures {
  bool listening = false;
  int port = 0;             // listened on
  std::string destination;  // "localhost:2007"
  std::string conditions;   // the traffic conditions, short; empty: none
  bool capturing = false;   // false: no capture store (figures below unknown)
  CaptureCounts counts;
  std::string last_error;  // empty: none
};

// "Listening on port 1999 for localhost:2007 | Conditions: down delay
// 100 ms | 2 open / 17 sessions | 1.2 MiB up, 3.4 MiB down | capture
// 5.0 MiB of 256 MiB, 0 B dropped | Session 3: cannot connect ...", or
// "Stopped | ..." when not listening.
std::string StatusLineText(const StatusFigures& figures);

}  // namespace portwick

#endif  // PORTWICK_UI_SESSIONS_SESSION_TEXTS_H_

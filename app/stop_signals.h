#ifndef PORTWICK_APP_STOP_SIGNALS_H_
#define PORTWICK_APP_STOP_SIGNALS_H_

namespace portwick {

// Console mode stops on the stop signals: SIGINT (Ctrl-C), SIGTERM, SIGHUP
// (the terminal went away) and SIGQUIT. Instead of handlers, they are blocked
// in every thread and taken with sigwait, so the stop runs as ordinary code on
// an ordinary thread. Implemented per platform (app/posix/stop_signals.cc).

// Blocks the stop signals in the calling thread and ignores SIGPIPE. Call on
// the main thread before any other thread is started: threads inherit the
// mask, so no thread of the process receives the signals asynchronously.
// Returns false when the mask can't be set.
bool BlockStopSignals();

// Waits until a stop signal is pending and takes it; returns its number
// (0 if waiting is impossible).
int WaitForStopSignal();

// Starts a detached thread that ends the process at once, with exit code
// 128 + the signal number, when the next stop signal arrives. Used
// while a stop is in progress, so a second Ctrl-C doesn't wait for it.
void ExitAtNextStopSignal();

}  // namespace portwick

#endif  // PORTWICK_APP_STOP_SIGNALS_H_

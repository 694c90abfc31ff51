#ifndef PORTWICK_APP_WINDOWS_CONSOLE_EVENTS_H_
#define PORTWICK_APP_WINDOWS_CONSOLE_EVENTS_H_

namespace portwick {

// What the console control handler installed by BlockStopSignals does with
// an event (CTRL_C_EVENT ... CTRL_SHUTDOWN_EVENT): hands it to
// WaitForStopSignal as SIGINT (Ctrl+C), SIGBREAK (Ctrl+Break) or SIGTERM
// (close, logoff, shutdown), or, after ExitAtNextStopSignal, ends the
// process at once with the console's exit code for Ctrl+C (0xC000013A).
// False for an event that is not a stop. Any thread; tests call it in place
// of the console.
bool DeliverConsoleEvent(unsigned long event);

}  // namespace portwick

#endif  // PORTWICK_APP_WINDOWS_CONSOLE_EVENTS_H_

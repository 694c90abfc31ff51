#ifndef PORTWICK_APP_OWN_CONSOLE_H_
#define PORTWICK_APP_OWN_CONSOLE_H_

namespace portwick {

// Window mode of a program that is also a console program: on Windows
// portwick.exe is built for the console subsystem, so that console mode has
// its console, Ctrl+C and a shell that waits for it. Started from Explorer
// or a shortcut, Windows then makes a console for it alone; this lets go of
// that console (it closes) so that only the window shows. A console shared
// with the program that started it (a shell) is kept, and the shell waits
// for the window as a terminal does on Linux. Nothing to do elsewhere
// (app/posix/, app/windows/).
//
// Call on the main thread before the window is made.
void LeaveOwnConsole();

}  // namespace portwick

#endif  // PORTWICK_APP_OWN_CONSOLE_H_

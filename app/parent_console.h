#ifndef PORTWICK_APP_PARENT_CONSOLE_H_
#define PORTWICK_APP_PARENT_CONSOLE_H_

namespace portwick {

// Console mode and --version of a program that is also a window program:
// on Windows portwick.exe is built for the window subsystem, which starts
// without a console. When it was given no standard output either (started
// from a console without redirection), this attaches the console of the
// program that started it, if any, and points the standard streams there
// (binary, as EnsureStandardDescriptors left them). Redirected streams are
// kept. Nothing to do elsewhere (app/posix/, app/windows/).
//
// Call on the main thread before console mode prints anything.
void UseParentConsole();

}  // namespace portwick

#endif  // PORTWICK_APP_PARENT_CONSOLE_H_

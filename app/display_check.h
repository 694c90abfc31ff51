#ifndef PORTWICK_APP_DISPLAY_CHECK_H_
#define PORTWICK_APP_DISPLAY_CHECK_H_

#include <string>

namespace portwick {

// Whether Qt will be able to open windows, looked at before any QApplication
// exists: Qt aborts the process when the display it is pointed at can't be
// opened. Returns "" when a window can be shown, otherwise the reason in
// words, for example
//   "DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset or empty"
//   "DISPLAY=:99 can't be reached".
//
// A display counts when its server accepts a connection: an X display named
// by DISPLAY ("[host]:number[.screen]"; the local socket, or TCP port 6000 +
// number on a host), or a Wayland compositor's socket named by
// WAYLAND_DISPLAY (absolute, or relative to XDG_RUNTIME_DIR). QT_QPA_PLATFORM
// naming xcb or wayland asks for that display alone; naming any other
// platform (offscreen, vnc, ...) is trusted as it is. The connection is
// closed again at once; a remote X host gets two seconds to answer.
//
// Reads the environment: call it on the main thread before other threads
// change the environment.
std::string DisplayProblem();

}  // namespace portwick

#endif  // PORTWICK_APP_DISPLAY_CHECK_H_

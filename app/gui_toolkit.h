#ifndef PORTWICK_APP_GUI_TOOLKIT_H_
#define PORTWICK_APP_GUI_TOOLKIT_H_

#include <memory>
#include <string>

namespace portwick {

// What the window toolkit needs set up before the first window and taken
// down after the last, for the process's lifetime in between. Defined once
// per toolkit: app/qt/gui_toolkit_qt.cc (a QApplication, unless one exists),
// app/win32/gui_toolkit_win32.cc (COM for the thread, the common controls,
// the rich edit library). Main thread only.
class GuiToolkitSession {
 public:
  virtual ~GuiToolkitSession() = default;
};

// Starts the toolkit for `program_path` (argv[0]); the session releases it
// in reverse order when destroyed. Call only where windows can be shown
// (see DisplayProblem in app/display_check.h).
std::unique_ptr<GuiToolkitSession> StartGuiToolkit(const std::string& program_path);

// The toolkit's help box: a message box with caption "Portwick", `text`, an
// OK button and no icon. Returns when the user closes it.
void ShowToolkitHelpBox(const std::string& text);

}  // namespace portwick

#endif  // PORTWICK_APP_GUI_TOOLKIT_H_

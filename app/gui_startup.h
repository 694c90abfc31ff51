#ifndef PORTWICK_APP_GUI_STARTUP_H_
#define PORTWICK_APP_GUI_STARTUP_H_

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "app/gui_window.h"
#include "run/proxy_settings.h"

namespace portwick {

// Exit code when no window can be opened because there is no display. No
// closing command uses it (they give 1, 2 and 57665; a failed command line
// and a failed window creation give 0).
inline constexpr int kExitNoDisplay = 3;

// True when the toolkit has somewhere to show windows: under Qt a display
// named by DISPLAY or WAYLAND_DISPLAY that can be reached, or a
// QT_QPA_PLATFORM of its own (see DisplayProblem in app/display_check.h);
// always on Windows.
bool DisplayAvailable();

// The help box: a message box with caption "Portwick", `text`, an OK button
// and no icon (the toolkit's, ShowToolkitHelpBox). Returns when the user
// closes it.
void ShowHelpBox(const std::string& text);
// `text` as Qt's help box shows it: tabs expanded, in a fixed-width font,
// lines never wrapped (rich text). Qt only (app/qt/gui_toolkit_qt.cc).
std::string HelpBoxMarkup(const std::string& text);

// What RunGui() takes from its surroundings; empty members mean the real
// thing. Tests replace them so that nothing blocks.
struct GuiStartup {
  // Builds the main window object from the settings. Required.
  std::function<std::unique_ptr<GuiWindow>(const ProxySettings&)> make_window;
  // Shows the help box (default ShowHelpBox).
  std::function<void(const std::string& text)> show_help_box;
  // Default DisplayAvailable.
  std::function<bool()> display_available;
  // Where the help text and the error go (default std::cout, std::cerr).
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
};

// The program with a window, from the command line to the exit code:
// 1. registers a MessageLoop for this thread in the loop registry;
// 2. parses `args` (args[0] is the program path, whose last part the help
//    names). On failure prints the help to `out` and what was wrong to
//    `err`, shows the help box once (naming the wrong argument above the
//    help) and returns 0 without a window. The command `help` shows the help
//    the same way and goes on;
// 3. without a display (none set, or the one set can't be reached), writes
//    the reason and a pointer to --console to `err` and returns
//    kExitNoDisplay (checked before the toolkit starts);
// 4. builds the main window, Create()s it (returns 0 when that fails), shows
//    it and runs the loop until a window posts the quit code;
// 5. removes the loop from the registry, destroys the window and returns the
//    quit code.
// Starts the toolkit for the run (StartGuiToolkit: under Qt a QApplication
// fed with args[0] only, when none exists yet). Main thread only.
int RunGui(const std::vector<std::string>& args, const GuiStartup& startup);

}  // namespace portwick

#endif  // PORTWICK_APP_GUI_STARTUP_H_

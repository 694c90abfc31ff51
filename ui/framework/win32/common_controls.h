#ifndef PORTWICK_UI_FRAMEWORK_WIN32_COMMON_CONTROLS_H_
#define PORTWICK_UI_FRAMEWORK_WIN32_COMMON_CONTROLS_H_

namespace portwick {

// Registers the common controls the dialogs use (status bar, tooltips,
// list views) and loads Msftedit.dll, whose RICHEDIT50W class the output
// panes are made of. The first call does the work; the library then stays
// loaded for the rest of the process, since windows made of its class may
// live until the end. False when the rich edit library could not be loaded
// (a dialog with an output pane can't be made then). GUI thread.
bool EnsureCommonControls();

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_WIN32_COMMON_CONTROLS_H_

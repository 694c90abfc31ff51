#ifndef PORTWICK_UI_MAIN_WINDOW_TEMPLATE_H_
#define PORTWICK_UI_MAIN_WINDOW_TEMPLATE_H_

#include <span>

#include "run/application_title.h"
#include "ui/framework/dialog_template.h"
#include "ui/framework/resize_table.h"

namespace portwick {

// Resource ids of the main window.
inline constexpr int kMainWindowDialogId = 129;
inline constexpr int kMainMenuId = 201;
inline constexpr int kApplicationIconId = 128;
inline constexpr int kApplicationTitleId = 128;

// String 128 is kApplicationTitle: the window's first caption and the name at
// the end of every later title.

// Controls of dialog 129.
inline constexpr int kLocalPortField = 1000;
inline constexpr int kRemotePortField = 1001;
inline constexpr int kRemoteHostField = 1002;
inline constexpr int kOutputPane = 1003;
inline constexpr int kFileNameField = 1004;
inline constexpr int kStartButton = 1005;
inline constexpr int kWriteToFileBox = 1006;
inline constexpr int kShowInOutputBox = 1007;
inline constexpr int kStopButton = 1008;
inline constexpr int kBrowseButton = 1009;
inline constexpr int kLocalHostField = 1010;  // the address to listen on; empty: every IPv4 one
inline constexpr int kConnectionInfoGroup = 1011;
inline constexpr int kShowInfoGroup = 1012;
inline constexpr int kLogSynchronouslyBox = 1013;
inline constexpr int kSelectAllButton = 1014;  // hidden, does nothing
inline constexpr int kClearButton = 1015;
inline constexpr int kCloseButton = 1;       // the OK command
inline constexpr int kAboutCommand = 57664;  // About... button and Help > About...

// Menu commands of menu 201.
inline constexpr int kStartCommand = 32772;
inline constexpr int kStopCommand = 32773;
inline constexpr int kSaveAsCommand = 32775;
inline constexpr int kVisitHomePageCommand = 32776;
inline constexpr int kExitCommand = 57665;
inline constexpr int kSessionsCommand = 32780;    // View > Sessions
inline constexpr int kConditionsCommand = 32781;  // Action > Conditions...

// Dialog 129 with menu 201: every control in template (= tab) order, sizes
// in dialog units. A static table that lives for the whole process.
const DialogTemplate& MainWindowTemplate();

// How the main window's controls follow its size: two groups for the boxes
// at the top, the right-hand button column, and the output pane.
std::span<const ResizeEntry> MainWindowResizeTable();

}  // namespace portwick

#endif  // PORTWICK_UI_MAIN_WINDOW_TEMPLATE_H_

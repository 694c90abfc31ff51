#ifndef PORTWICK_UI_FRAMEWORK_FILE_CHOOSERS_H_
#define PORTWICK_UI_FRAMEWORK_FILE_CHOOSERS_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/framework/native_window.h"

namespace portwick {

// What a Save dialog offers.
struct SaveFileRequest {
  // Filter entries as shown, each ending with its pattern in parentheses,
  // for example "Log Files (*.log)". The first one is selected.
  std::vector<std::string> filters;
  std::string default_suffix;  // added to a name typed without one
  std::string initial_name;    // may be empty, a name or a path
  // Ask before a chosen file that exists is replaced.
  bool confirm_overwrite = true;
};

// The modal dialogs the windows open for choosing files and reporting a
// failure. The real implementation is the toolkit's (Qt: QFileDialog and
// QMessageBox, ui/framework/qt/file_dialogs.cc); tests put a scripted one in
// its place so that nothing blocks.
// GUI thread only; `owner` may be null.
class FileChoosers {
 public:
  virtual ~FileChoosers() = default;

  // Runs a Save dialog over `owner`. The full path chosen, or nothing when
  // the user cancelled or the dialog failed.
  virtual std::optional<std::string> ChooseSaveFile(NativeWindow owner,
                                                    const SaveFileRequest& request) = 0;

  // A message box over `owner` with `text`, the error icon and an OK button;
  // returns when the user has closed it.
  virtual void ShowError(NativeWindow owner, const std::string& text) = 0;
};

// The desktop's dialogs; lives for the whole process. Defined by the
// toolkit.
FileChoosers& DesktopFileChoosers();

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_FILE_CHOOSERS_H_

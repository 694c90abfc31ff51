#ifndef PORTWICK_UI_FRAMEWORK_QT_FILE_DIALOGS_H_
#define PORTWICK_UI_FRAMEWORK_QT_FILE_DIALOGS_H_

#include <memory>
#include <string>

#include "ui/framework/file_choosers.h"

class QFileDialog;
class QMessageBox;
class QWidget;

namespace portwick {

// The dialogs DesktopFileChoosers() and ShowErrorBox() run, set up but not
// shown (separate so tests can look at them). GUI thread only; `owner` may
// be null.
std::unique_ptr<QFileDialog> MakeSaveFileDialog(QWidget* owner, const SaveFileRequest& request);
std::unique_ptr<QMessageBox> MakeErrorBox(QWidget* owner, const std::string& text);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_QT_FILE_DIALOGS_H_

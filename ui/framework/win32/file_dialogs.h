#ifndef PORTWICK_UI_FRAMEWORK_WIN32_FILE_DIALOGS_H_
#define PORTWICK_UI_FRAMEWORK_WIN32_FILE_DIALOGS_H_

#include <string>
#include <vector>

#include "ui/framework/file_choosers.h"

namespace portwick {

// The filter string GetSaveFileName takes for `filters`: each entry's text,
// a zero, the pattern between its last parentheses (the whole text when it
// has none), a zero; and a second zero at the end.
std::wstring SaveFilterString(const std::vector<std::string>& filters);

// The extension GetSaveFileName adds to a name typed without one: the
// request's default suffix without a leading dot.
std::wstring DefaultExtension(const SaveFileRequest& request);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_WIN32_FILE_DIALOGS_H_

#ifndef PORTWICK_TESTS_UI_SCRIPTED_FILE_CHOOSERS_H_
#define PORTWICK_TESTS_UI_SCRIPTED_FILE_CHOOSERS_H_

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "ui/framework/file_choosers.h"

namespace portwick {

// Stands in for the Save dialogs and message boxes: answers from a script,
// records what was asked. GUI thread only.
class ScriptedFileChoosers : public FileChoosers {
 public:
  std::optional<std::string> ChooseSaveFile(NativeWindow owner,
                                            const SaveFileRequest& request) override;
  void ShowError(NativeWindow owner, const std::string& text) override;

  // The next dialogs' answers in turn; nullopt (or none left) cancels.
  std::deque<std::optional<std::string>> answers;
  std::vector<SaveFileRequest> requests;
  std::vector<std::string> errors;
  std::vector<NativeWindow> owners;  // of every dialog and box, in order
};

}  // namespace portwick

#endif  // PORTWICK_TESTS_UI_SCRIPTED_FILE_CHOOSERS_H_

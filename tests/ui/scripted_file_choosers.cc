#include "scripted_file_choosers.h"

namespace portwick {

std::optional<std::string> ScriptedFileChoosers::ChooseSaveFile(NativeWindow owner,
                                                                const SaveFileRequest& request) {
  requests.push_back(request);
  owners.push_back(owner);
  if (answers.empty()) return std::nullopt;
  std::optional<std::string> answer = answers.front();
  answers.pop_front();
  return answer;
}

void ScriptedFileChoosers::ShowError(NativeWindow owner, const std::string& text) {
  errors.push_back(text);
  owners.push_back(owner);
}

}  // namespace portwick

#include "ui/ui_services.h"

#include "ui/framework/file_choosers.h"
#include "ui/program_path.h"
#include "ui/version_reader.h"

namespace portwick {

UiServices UiServices::Resolved() const {
  UiServices resolved = *this;
  if (!resolved.open_url) resolved.open_url = DesktopUrlOpener();
  if (resolved.module == nullptr) resolved.module = &ProgramModule();
  if (resolved.version_cache == nullptr) resolved.version_cache = &ProcessProductVersionCache();
  if (resolved.file_choosers == nullptr) resolved.file_choosers = &DesktopFileChoosers();
  if (resolved.program_path.empty()) resolved.program_path = ProcessProgramPath();
  return resolved;
}

}  // namespace portwick

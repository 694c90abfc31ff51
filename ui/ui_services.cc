#include "ui/ui_services.h"

#include "ui/version_reader.h"

namespace portwick {

UiServices UiServices::Resolved() const {
  UiServices resolved = *this;
  if (!resolved.open_url) resolved.open_url = DesktopUrlOpener();
  if (resolved.module == nullptr) resolved.module = &ProgramModule();
  if (resolved.version_cache == nullptr) resolved.version_cache = &ProcessProductVersionCache();
  return resolved;
}

}  // namespace portwick

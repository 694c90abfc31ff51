#ifndef PORTWICK_UI_UI_SERVICES_H_
#define PORTWICK_UI_UI_SERVICES_H_

#include <string>

#include "ui/home_page.h"

namespace portwick {

class FileChoosers;
class ProductVersionCache;
class ResourceModule;

// What the windows of the user interface take from the desktop and the
// program's resources. Every member may be left empty for the real thing;
// tests set them so that no browser starts and version reads can be counted.
// Pointers are borrowed and must outlive the windows that use them.
struct UiServices {
  UrlOpener open_url;                            // empty: DesktopUrlOpener()
  const ResourceModule* module = nullptr;        // null: ProgramModule()
  ProductVersionCache* version_cache = nullptr;  // null: the process-wide cache
  FileChoosers* file_choosers = nullptr;         // null: DesktopFileChoosers()
  std::string program_path;                      // empty: ProcessProgramPath()

  // The same services with every empty member filled with the real one.
  UiServices Resolved() const;
};

}  // namespace portwick

#endif  // PORTWICK_UI_UI_SERVICES_H_

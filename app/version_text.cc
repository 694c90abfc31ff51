#include "app/version_text.h"

#include "app/application_title.h"
#include "resources/version_resource.h"

namespace portwick {

std::string VersionLine() {
  std::string line = kApplicationTitle;
  char separator = ' ';
  for (const uint16_t part : ProgramVersionResource().file_version) {
    line += separator;
    line += std::to_string(part);
    separator = '.';
  }
  return line;
}

}  // namespace portwick

#include "run/version_text.h"

#include "resources/version_resource.h"
#include "run/application_title.h"

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

#include "ui/program_path.h"

#include <fstream>

namespace portwick {

std::string ProcessProgramPath() {
  // The kernel keeps the argument vector as NUL-separated bytes.
  std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
  std::string first;
  if (cmdline && std::getline(cmdline, first, '\0')) return first;
  return {};
}

}  // namespace portwick

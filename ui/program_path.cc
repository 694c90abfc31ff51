#include "ui/program_path.h"

#include <QCoreApplication>
#include <QStringList>
#include <fstream>

namespace portwick {

std::string ProcessProgramPath() {
  // The kernel keeps the argument vector as NUL-separated bytes.
  std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
  std::string first;
  if (cmdline && std::getline(cmdline, first, '\0') && !first.empty()) return first;
  if (QCoreApplication::instance() == nullptr) return {};
  return QCoreApplication::arguments().value(0).toLocal8Bit().toStdString();
}

}  // namespace portwick

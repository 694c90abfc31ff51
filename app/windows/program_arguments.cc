#include "app/program_arguments.h"

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include "base/windows/win32_text.h"

namespace portwick {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  // Only when out of memory: the runtime's ANSI arguments are better than none.
  if (wide == nullptr) return {argv, argv + argc};
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromUtf16(wide[i]));
  LocalFree(wide);
  return arguments;
}

}  // namespace portwick

#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/console_runner.h"

namespace {

void PrintHelp() {
  std::fputs(portwick::HelpTextWithLineFeeds().c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  portwick::ProxySettings settings;
  if (portwick::ParseCommandLine(args, &settings, PrintHelp) == portwick::ParseStatus::kFailure) {
    PrintHelp();
    return 0;
  }

  // ---- Window mode ----------------------------------------------------------
  // When settings.console is off, the main window takes over here. Until it
  // exists, Portwick runs in console mode whatever the options say.
  // ---------------------------------------------------------------------------

  return portwick::RunConsole(settings);
}

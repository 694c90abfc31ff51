#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/console_runner.h"

#if defined(PORTWICK_HAVE_GUI)
#include "app/gui_startup.h"
#include "app/gui_window.h"
#include "ui/main_window.h"
#endif

namespace {

void PrintHelp() {
  std::fputs(portwick::HelpTextWithLineFeeds().c_str(), stdout);
  std::fflush(stdout);
}

int RunConsoleMode(const std::vector<std::string>& args) {
  portwick::ProxySettings settings;
  if (portwick::ParseCommandLine(args, &settings, PrintHelp) == portwick::ParseStatus::kFailure) {
    PrintHelp();
    return 0;
  }
  return portwick::RunConsole(settings);
}

#if defined(PORTWICK_HAVE_GUI)
int RunWindowMode(const std::vector<std::string>& args) {
  portwick::GuiStartup startup;
  startup.make_window = [](const portwick::ProxySettings& settings) {
    return portwick::MakeGuiWindow<portwick::MainWindow>(settings);
  };
  return portwick::RunGui(args, startup);
}

// Whether the arguments ask for the console (looked at without side effects;
// each mode parses them again with its own help display).
bool WantsConsole(const std::vector<std::string>& args) {
  portwick::ProxySettings probe;
  portwick::ParseCommandLine(args, &probe, {});
  return probe.console;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
#if defined(PORTWICK_HAVE_GUI)
  if (!WantsConsole(args)) return RunWindowMode(args);
#endif
  return RunConsoleMode(args);
}

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/console_runner.h"
#include "app/own_console.h"
#include "app/program_arguments.h"
#include "app/standard_descriptors.h"
#include "engine/descriptor_limit.h"
#include "run/version_text.h"

#if defined(PORTWICK_HAVE_GUI)
#include "app/gui_startup.h"
#include "app/gui_window.h"
#include "ui/main_window.h"
#include "ui/ui_services.h"
#endif

namespace {

#if defined(PORTWICK_HAVE_GUI)
int RunWindowMode(const std::vector<std::string>& args) {
  portwick::GuiStartup startup;
  // The command script repeats the program path as main received it.
  portwick::UiServices services;
  if (!args.empty()) services.program_path = args[0];
  startup.make_window = [services](const portwick::ProxySettings& settings) {
    return portwick::MakeGuiWindow<portwick::MainWindow>(settings, services);
  };
  return portwick::RunGui(args, startup);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  // Before anything opens a descriptor: a closed standard output must not
  // become a client's socket that the traffic display then writes into.
  if (!portwick::EnsureStandardDescriptors()) return 1;
  // Every session takes two descriptors: allow as many as the system lets
  // this process have.
  portwick::descriptor_limit::RaiseToHardLimit();
  const std::vector<std::string> args = portwick::ProgramArguments(argc, argv);
  // A first look without side effects decides the mode; each mode parses the
  // arguments again with its own help display. --version needs neither mode,
  // so it works without a display.
  portwick::ProxySettings probe;
  const bool parsed =
      portwick::ParseCommandLine(args, &probe, {}) == portwick::ParseStatus::kSuccess;
#if defined(PORTWICK_HAVE_GUI)
  const bool window_mode = !probe.console && !(parsed && probe.show_version);
  if (window_mode) {
    portwick::LeaveOwnConsole();
    return RunWindowMode(args);
  }
#endif
  if (parsed && probe.show_version) {
    std::printf("%s\n", portwick::VersionLine().c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  return portwick::RunConsoleCommandLine(args);
}

#include "app/gui_startup.h"

#include <iostream>
#include <memory>
#include <thread>

#include "app/command_line.h"
#include "app/display_check.h"
#include "app/gui_toolkit.h"
#include "ui/framework/loop_registry.h"
#include "ui/framework/message_loop.h"

namespace portwick {

namespace {

// Keeps `loop` in the global registry under this thread's id for its scope.
class LoopRegistration {
 public:
  explicit LoopRegistration(MessageLoop* loop) {
    LoopRegistry::Global().Add(std::this_thread::get_id(), loop);
  }
  LoopRegistration(const LoopRegistration&) = delete;
  LoopRegistration& operator=(const LoopRegistration&) = delete;
  ~LoopRegistration() { End(); }

  void End() {
    if (ended_) return;
    ended_ = true;
    LoopRegistry::Global().Remove(std::this_thread::get_id());
  }

 private:
  bool ended_ = false;
};

}  // namespace

bool DisplayAvailable() { return DisplayProblem().empty(); }

void ShowHelpBox(const std::string& text) { ShowToolkitHelpBox(text); }

int RunGui(const std::vector<std::string>& args, const GuiStartup& startup) {
  std::ostream& out = startup.out ? *startup.out : std::cout;
  std::ostream& err = startup.err ? *startup.err : std::cerr;
  // Checked before Qt starts: Qt aborts when it can't open its display.
  std::string display_problem;
  if (!startup.display_available) {
    display_problem = DisplayProblem();
  } else if (!startup.display_available()) {
    display_problem = "DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset or empty";
  }
  const bool has_display = display_problem.empty();

  // The toolkit is only started where it can open windows; without a
  // display the help still reaches standard output.
  std::unique_ptr<GuiToolkitSession> toolkit;
  if (has_display) toolkit = StartGuiToolkit(args.empty() ? std::string() : args[0]);

  MessageLoop loop;
  LoopRegistration registration(&loop);

  const std::string help = HelpTextWithLineFeeds(ProgramName(args.empty() ? "" : args[0]));
  // `problem`: what was wrong with the command line, said above the help.
  auto show_help = [&](const std::string& problem) {
    out << help;
    out.flush();
    if (!problem.empty()) {
      err << kApplicationTitle << ": " << problem << "\n";
      err.flush();
    }
    if (!has_display) return;
    std::string text = help;
    if (!problem.empty()) text = "The command line has an " + problem + ".\n\n" + help;
    if (startup.show_help_box) {
      startup.show_help_box(text);
    } else {
      ShowHelpBox(text);
    }
  };

  ProxySettings settings;
  ParseFailure failure;
  if (ParseCommandLine(
          args, &settings, [&] { show_help(""); }, &failure) == ParseStatus::kFailure) {
    show_help(ParseFailureText(failure));
    return 0;
  }

  if (!has_display) {
    err << kApplicationTitle << ": cannot open the main window: no display (" << display_problem
        << ").\n"
        << kApplicationTitle << ": run with --console to forward without a window.\n";
    err.flush();
    return kExitNoDisplay;
  }

  std::unique_ptr<GuiWindow> window = startup.make_window ? startup.make_window(settings) : nullptr;
  if (window == nullptr || !window->Create()) return 0;
  window->Show();
  const int exit_code = loop.Run();

  registration.End();
  window.reset();
  return exit_code;
}

}  // namespace portwick

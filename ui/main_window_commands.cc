// The main window's commands besides starting, stopping and closing: the
// traffic conditions, saving a command script, choosing the log file,
// clearing the pane and the two check boxes that enable other controls.
#include <algorithm>
#include <optional>
#include <string>

#include "run/command_script.h"
#include "ui/conditions_dialog.h"
#include "ui/framework/file_choosers.h"
#include "ui/framework/pane_control.h"
#include "ui/main_window.h"
#include "ui/main_window_template.h"

namespace portwick {

namespace {

// The Browse dialog is offered at most this many characters (UTF-16 code
// units) of the field.
constexpr size_t kMaxInitialNameLength = 259;

// The first `units` UTF-16 code units of the UTF-8 `text`, as the field's
// text cut there reads back: a character cut in half (its high surrogate
// kept) becomes '?'.
std::string Utf16Prefix(const std::string& text, size_t units) {
  size_t used = 0;
  size_t i = 0;
  while (i < text.size() && used < units) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (length == 4 && used + 2 > units) return text.substr(0, i) + "?";
    used += length == 4 ? 2 : 1;
    i += length;
  }
  return text.substr(0, std::min(i, text.size()));
}

// What the Save As dialog offers: the script kind the program writes on
// this system (BuildCommandScript) first.
SaveFileRequest ScriptSaveRequest() {
  SaveFileRequest request;
#if defined(_WIN32)
  request.filters = {"Command Scripts (*.cmd)", "All Files (*.*)"};
  request.default_suffix = "cmd";
#else
  // The script is a shell command line: shell scripts first; a .cmd name
  // (as older versions wrote) is still offered and kept as typed.
  request.filters = {"Shell Scripts (*.sh)", "Command Scripts (*.cmd)", "All Files (*)"};
  request.default_suffix = "sh";
#endif
  request.confirm_overwrite = true;
  return request;
}

}  // namespace

void MainWindow::ConditionsCommand() {
  if (ended_) return;
  ConditionsDialog box(dialog_->native_window(), {conditions_, limits_});
  if (box.Run() != kCommandOk || ended_) return;
  conditions_ = box.form().conditions;
  limits_ = box.form().limits;
  // The window's one forward; when stopped, the next Start takes them.
  run_.SetConditions(0, conditions_);
  UpdateStatusLine();
}

void MainWindow::SaveCommandScript() {
  if (ended_) return;
  // A port field that holds no usable port stops the command here: a script
  // with a made-up port would not restore what the window shows.
  if (!ReadSettings()) return;

  SaveFileRequest request = ScriptSaveRequest();
  request.initial_name = command_script_path_;
  const std::optional<std::string> path =
      services_.file_choosers->ChooseSaveFile(dialog_->native_window(), request);
  if (!path) return;
  // Remembered for the next Save As even if the file can't be created.
  command_script_path_ = *path;

  CommandScriptValues values;
  values.program_path = services_.program_path;
  values.local_port = local_port_;
  values.bind_address = local_host_;
  values.remote_host = remote_host_;
  values.remote_port = remote_port_;
  values.write_to_file = write_to_file_ != 0;
  values.log_file_name = log_file_name_;
  values.limits = limits_;
  values.conditions = conditions_;
#if defined(_WIN32)
  // A value cmd.exe can't be given safely (a '"', a control character) is
  // refused rather than written into a script that would run something else.
  if (const std::string problem = CmdScriptProblem(values); !problem.empty()) {
    services_.file_choosers->ShowError(dialog_->native_window(), problem);
    return;
  }
#endif
  // A script that could be created but not written whole would not run as
  // saved, so it is reported like one that could not be created.
  if (WriteCommandScript(command_script_path_, BuildCommandScript(values)) !=
      ScriptFileResult::kWritten) {
    services_.file_choosers->ShowError(dialog_->native_window(),
                                       CannotCreateMessage(command_script_path_));
  }
}

void MainWindow::BrowseLogFile() {
  if (ended_) return;
  ExchangeData(ExchangeDirection::kRead, kFileNameField);

  SaveFileRequest request;
  request.filters = {"Log Files (*.log)", "All Files (*.*)"};
  request.default_suffix = "log";
  request.initial_name = Utf16Prefix(log_file_name_, kMaxInitialNameLength);
  // Logging appends to the file it is given, so asking whether to replace an
  // existing one would ask about something that never happens.
  request.confirm_overwrite = false;
  const std::optional<std::string> path =
      services_.file_choosers->ChooseSaveFile(dialog_->native_window(), request);
  if (!path) return;
  log_file_name_ = *path;
  ExchangeData(ExchangeDirection::kWrite, kFileNameField);
}

void MainWindow::ClearOutput() { pane_->ClearText(); }

void MainWindow::OnWriteToFile() {
  ReadCheck(*dialog_, kWriteToFileBox, &write_to_file_);
  control_states_.SetControlEnabled(kFileNameField, write_to_file_ != 0);
  control_states_.SetControlEnabled(kBrowseButton, write_to_file_ != 0);
}

void MainWindow::OnShowInOutput() {
  ExchangeData(ExchangeDirection::kRead, kShowInOutputBox);
  control_states_.SetControlEnabled(kOutputPane, show_in_output_ != 0);
}

}  // namespace portwick

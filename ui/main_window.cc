#include "ui/main_window.h"

#include <unistd.h>

#include <array>
#include <cstdio>

#include "ui/about_box.h"
#include "ui/framework/desktop.h"
#include "ui/framework/loop_registry.h"
#include "ui/framework/message_loop.h"
#include "ui/framework/pane_control.h"
#include "ui/main_window_template.h"
#include "ui/sessions_view.h"

namespace portwick {

MainWindow::MainWindow(const ProxySettings& settings, const UiServices& services)
    : services_(services.Resolved()),
      autostart_(settings.autostart),
      remote_host_(settings.remote_host),
      local_port_(settings.local_port),
      local_host_(settings.bind_address),
      remote_port_(settings.remote_port),
      log_file_name_(settings.log_file_name),
      write_to_file_(settings.log_file_name.empty() ? 0 : 1),
      show_in_output_(settings.show_in_output ? 1 : 0),
      log_synchronously_(settings.log_synchronously ? 1 : 0),
      capture_limit_(settings.capture_limit),
      conditions_(settings.conditions),
      limits_(settings.limits),
      control_states_({kFileNameField, kBrowseButton, kOutputPane, kStopButton, kStartButton,
                       kSelectAllButton, kClearButton}) {}

MainWindow::~MainWindow() {
  ended_ = true;
  // As Stop does: the listener first, which resets the sessions, so that a
  // relay thread blocked in a send (a destination that doesn't read) gives
  // its sink call back; then the sinks, while relay threads and workers can
  // still hand their last text to the pane. The window goes with the members.
  run_.StopListening();
  ReleaseLogSinks();
  if (run_.left_sinks_behind()) {
    // A log target blocked past the time limit: its threads still use the
    // sinks and the pane, so nothing may be destroyed. End here.
    std::fprintf(stderr, "%s: the log did not finish when the window closed; ending now\n",
                 kApplicationTitle);
    std::fflush(nullptr);
    _exit(close_code_);
  }
  if (loop_ != nullptr) {
    loop_->RemoveIdleHandler(this);
    loop_->RemoveMessageFilter(this);
  }
}

bool MainWindow::Create() {
  if (dialog_) return false;
  // An overlapped window: caption, system menu, sizing border, minimise and
  // maximise boxes.
  dialog_ = CreateDialog(MainWindowTemplate(), DialogFrame::kOverlapped);
  // The template's pane becomes the one the window sinks write to.
  pane_ = dialog_->AttachOutputPane(kOutputPane);
  if (pane_ == nullptr) return false;
  CreateStatusLine();
  MapCommands();
  OnInitDialog();
  return true;
}

void MainWindow::Show() {
  if (dialog_) dialog_->Show();
}

void MainWindow::OnInitDialog() {
  dialog_->EnableResizing(MainWindowResizeTable());
  dialog_->CenterOnScreen();
  dialog_->SetProgramIcon();

  loop_ = CurrentThreadLoop();
  if (loop_ != nullptr) {
    loop_->AddMessageFilter(this);
    loop_->AddIdleHandler(this);
  }

  // An empty Local Host keeps the listener on every IPv4 interface; say so.
  dialog_->SetCueBanner(kLocalHostField, "every IPv4 interface");
  dialog_->SetControlTip(kLocalHostField,
                         "The address to listen on: 127.0.0.1 for this machine only, "
                         ":: for every IPv6 and IPv4 interface");

  ExchangeData(ExchangeDirection::kWrite);
  control_states_.SetControlEnabled(kFileNameField, write_to_file_ != 0);
  control_states_.SetControlEnabled(kBrowseButton, write_to_file_ != 0);
  control_states_.SetControlEnabled(kOutputPane, show_in_output_ != 0);
  control_states_.SetControlEnabled(kStopButton, run_.IsRunning());

  if (autostart_) StartCommand();
}

void MainWindow::MapCommands() {
  Dialog& d = *dialog_;
  d.OnCommand(kStartButton, [this] { StartCommand(); });
  d.OnCommand(kStartCommand, [this] { StartCommand(); });
  d.OnCommand(kStopButton, [this] { StopCommand(); });
  d.OnCommand(kStopCommand, [this] { StopCommand(); });
  d.OnCommand(kSaveAsCommand, [this] { SaveCommandScript(); });
  d.OnCommand(kExitCommand, [this] { CloseMainWindow(kExitCommand); });
  d.OnCommand(kCommandOk, [this] { CloseMainWindow(kCommandOk); });
  d.OnCommand(kCommandCancel, [this] { CloseMainWindow(kCommandCancel); });
  d.OnCommand(kVisitHomePageCommand, [this] { VisitHomePageCommand(); });
  d.OnCommand(kAboutCommand, [this] { AboutCommand(); });
  d.OnCommand(kBrowseButton, [this] { BrowseLogFile(); });
  d.OnCommand(kClearButton, [this] { ClearOutput(); });
  d.OnCommand(kWriteToFileBox, [this] { OnWriteToFile(); });
  d.OnCommand(kShowInOutputBox, [this] { OnShowInOutput(); });
  d.OnCommand(kSelectAllButton, [] {});
  d.OnCommand(kSessionsCommand, [this] { SessionsCommand(); });
  d.OnCommand(kConditionsCommand, [this] { ConditionsCommand(); });
}

bool MainWindow::ExchangeData(ExchangeDirection direction, int control_id) {
  const std::array<ExchangePair, 9> pairs = {
      ExchangePair::Text(kOutputPane, &output_text_),
      ExchangePair::Text(kRemoteHostField, &remote_host_),
      ExchangePair::Int(kRemotePortField, &remote_port_),
      ExchangePair::Int(kLocalPortField, &local_port_),
      ExchangePair::Text(kLocalHostField, &local_host_),
      ExchangePair::Check(kWriteToFileBox, &write_to_file_),
      ExchangePair::Check(kShowInOutputBox, &show_in_output_),
      ExchangePair::Text(kFileNameField, &log_file_name_),
      ExchangePair::Check(kLogSynchronouslyBox, &log_synchronously_),
  };
  return ExchangePairs(*dialog_, pairs, direction, control_id);
}

bool MainWindow::PreTranslateMessage(const Message& message) {
  if (message.kind == MessageKind::kOther) return false;
  if (message.key != kKeyEscape || !dialog_) return false;
  if (message.kind == MessageKind::kKeyUp) {
    if (!message.auto_repeat) escape_pressed_here_ = false;
    return false;
  }
  // Key messages reach the window system's window first, then the control.
  const bool here = message.window != nullptr && message.window == dialog_->native_window();
  // A press that a shortcut of another window took never shows up here, so
  // only a press seen for this window lets its repeats through.
  if (!message.auto_repeat) {
    escape_pressed_here_ = here;
    return false;
  }
  return here && !escape_pressed_here_;
}

bool MainWindow::OnIdle() {
  if (dialog_) control_states_.Apply(*dialog_);
  return false;
}

void MainWindow::CloseMainWindow(int command_id) {
  if (ended_) return;
  ended_ = true;
  close_code_ = command_id;
  deferred_.clear();
  if (sessions_window_) sessions_window_->Hide();
  dialog_->DestroyWindow();
  // Recorded by the loop: a close that comes while a release waits still
  // ends the loop once control is back there.
  if (loop_ != nullptr) {
    loop_->PostQuit(command_id);
  } else {
    QuitApplication(command_id);
  }
}

void MainWindow::SetTitle(const std::string& title) { dialog_->SetTitle(title); }

void MainWindow::VisitHomePageCommand() { VisitHomePage(services_.open_url); }

void MainWindow::AboutCommand() { ShowAboutBox(services_); }

void MainWindow::SessionsCommand() {
  if (ended_) return;
  if (!sessions_window_) sessions_window_ = MakeSessionsView(services_.file_choosers);
  sessions_window_->SetStore(capture_store());
  sessions_window_->Present();
}

}  // namespace portwick

// Starting and stopping the forwarding, and the release of the log sinks in
// between, during which the window keeps serving its events.
#include <string>
#include <utility>

#include "run/endpoint_text.h"
#include "run/run_settings_from.h"
#include "ui/framework/data_exchange.h"
#include "ui/framework/desktop.h"
#include "ui/framework/pane_control.h"
#include "ui/main_window.h"
#include "ui/main_window_template.h"
#include "ui/sessions/session_texts.h"
#include "ui/sessions_view.h"

namespace portwick {

namespace {

constexpr int32_t kHighestPort = 65535;

// While sinks are released the GUI thread serves its events, so the window
// stays usable and the pane goes on showing what it was handed.
void ServeGuiEvents() { ServePendingEvents(); }

// "[LP: 1999, RP: 2007, RH: localhost] - Portwick"; with a bind address it
// begins "[LH: 127.0.0.1, LP: ...". Each field stands alone, so an IPv6
// address needs no brackets here.
std::string RunningTitle(const std::string& local_host, int local_port, int remote_port,
                         const std::string& remote_host) {
  const std::string local = local_host.empty() ? "" : "LH: " + local_host + ", ";
  return "[" + local + "LP: " + std::to_string(local_port) +
         ", RP: " + std::to_string(remote_port) + ", RH: " + remote_host + "] - " +
         kApplicationTitle;
}

}  // namespace

void MainWindow::StartCommand() {
  if (ended_) return;
  if (releasing_) {
    deferred_.push_back(DeferredCommand::kStart);
    return;
  }
  StartForwarding();
  RunDeferredCommands();
}

void MainWindow::StopCommand() {
  if (ended_) return;
  if (releasing_) {
    deferred_.push_back(DeferredCommand::kStop);
    return;
  }
  StopForwarding();
  RunDeferredCommands();
}

void MainWindow::RunDeferredCommands() {
  while (!deferred_.empty() && !ended_ && !releasing_) {
    const DeferredCommand command = deferred_.front();
    deferred_.pop_front();
    if (command == DeferredCommand::kStart) {
      StartForwarding();
    } else {
      StopForwarding();
    }
  }
}

void MainWindow::StartForwarding() {
  // Refused while running: the sessions under way and their sinks stay as
  // they are (the Start button is disabled then; the menu item is not).
  if (run_.IsRunning()) return;
  if (!ReadSettings()) return;

  ReleaseLogSinks();
  if (ended_) return;  // closed while the release waited

  // The fields as the command line would give them; the log file is
  // written as the Write to File box says, whatever the name.
  ProxySettings fields;
  fields.bind_address = local_host_;  // ReadSettings has checked it
  fields.local_port = local_port_;
  fields.remote_host = remote_host_;
  fields.remote_port = remote_port_;
  fields.log_file_name = log_file_name_;
  fields.show_in_output = show_in_output_ != 0;
  fields.log_synchronously = log_synchronously_ != 0;
  fields.capture_limit = capture_limit_;
  fields.conditions = conditions_;
  fields.limits = limits_;
  RunSettings settings = RunSettingsFrom(fields);
  settings.log.write_to_file = write_to_file_ != 0;
  // On failure (the port is in use, ...) the title and the buttons stay as
  // they are and the status line says why; the sinks just built stay until
  // the next Start, Stop or close.
  const Status status = run_.Start(settings, pane_, ServeGuiEvents);
  if (!status.ok()) {
    ReportError(ListenErrorText(local_port_, status));
    return;
  }
  last_error_.clear();
  log_loss_noted_ = false;
  run_log_file_ = log_file_name_;
  destination_text_ = DestinationText(remote_host_, remote_port_);
  // The Sessions window shows the new run's sessions from now on.
  if (sessions_window_) sessions_window_->SetStore(capture_store());
  UpdateStatusLine();

  // With local port 0 the system chose the port: show the one listened on.
  const int bound_port = run_.BoundPort();
  SetTitle(RunningTitle(local_host_, bound_port != 0 ? bound_port : local_port_, remote_port_,
                        remote_host_));
  UpdateRunningStates();
}

void MainWindow::StopForwarding() {
  // Stop stops whatever the fields hold, so a bad field doesn't matter here.
  ExchangeData(ExchangeDirection::kRead);
  run_.StopListening();
  SetTitle(std::string("[Stop requested] - ") + kApplicationTitle);
  ReleaseLogSinks();
  SetTitle(std::string("[Stopped] - ") + kApplicationTitle);
  UpdateRunningStates();
  UpdateStatusLine();
}

bool MainWindow::ReadSettings() {
  // Checked in exchange order: the remote port comes before the local one.
  // A field that holds no port beeps, takes the focus and says why.
  const std::pair<int, const char*> port_fields[] = {{kRemotePortField, "Remote Port"},
                                                     {kLocalPortField, "Local Port"}};
  for (const auto& [control_id, name] : port_fields) {
    int32_t port = 0;
    if (!ReadInt(*dialog_, control_id, &port) || port < 0 || port > kHighestPort) {
      ReportError(std::string(name) + ": enter a number from 0 to 65535");
      ReportFieldFailure(*dialog_, control_id);
      return false;
    }
  }
  if (!ExchangeData(ExchangeDirection::kRead)) return false;
  if (!ParseBindAddress(local_host_)) {
    ReportError("Local Host: enter an IPv4 or IPv6 address, or nothing for every IPv4 interface");
    ReportFieldFailure(*dialog_, kLocalHostField);
    return false;
  }
  return true;
}

void MainWindow::ReleaseLogSinks() {
  const bool was_releasing = std::exchange(releasing_, true);
  run_.ReleaseSinks(ServeGuiEvents);
  releasing_ = was_releasing;
}

void MainWindow::UpdateRunningStates() {
  const bool running = run_.IsRunning();
  control_states_.SetControlEnabled(kStopButton, running);
  control_states_.SetControlEnabled(kStartButton, !running);
}

}  // namespace portwick

#ifndef PORTWICK_UI_MAIN_WINDOW_H_
#define PORTWICK_UI_MAIN_WINDOW_H_

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "run/forwarding_run.h"
#include "run/proxy_settings.h"
#include "ui/framework/control_state_table.h"
#include "ui/framework/data_exchange.h"
#include "ui/framework/dialog.h"
#include "ui/framework/idle_handler.h"
#include "ui/framework/message_filter.h"
#include "ui/ui_services.h"

namespace portwick {

class CaptureStore;
class MessageLoop;
class PaneControl;
class SessionsView;

// The program's only top-level window: dialog 129 with menu 201, holding the
// forwarding settings while the user edits them. It owns the forwarding run
// (listener and log sinks), and turns the user's commands into
// starting and stopping the forwarding.
//
// Life: start-up constructs it from the command-line settings, calls
// Create() (the window's initialisation runs inside, and forwarding starts
// there when the command line asked for it) and Show(), then runs the
// thread's MessageLoop until a closing command posts the quit code; the
// object is destroyed after the loop has ended: first the listener stops
// (resetting the sessions), then the log sinks are released, as Stop does.
// When the release leaves sinks behind (a log target blocked past the run's
// time limit), the destructor ends the process with the closing command's
// code instead of destroying the pane those sinks still use. The loop found
// at Create() (the calling thread's, through the loop registry) must outlive
// this object.
//
// Threads: everything here runs on the GUI thread. Relay threads and sink
// workers reach the window only through its output pane, which queues their
// text for the GUI thread without making them wait. Commands that arrive during such a wait are
// handled as follows: Start and Stop wait until the release is done and then run in the order they
// came; Close closes at once (the loop keeps the quit request).
class MainWindow : public MessageFilter, public IdleHandler {
 public:
  explicit MainWindow(const ProxySettings& settings, const UiServices& services = {});
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  ~MainWindow() override;

  // Builds the window from its template and initialises it: resizing,
  // centring, icon, registration with the thread's loop, field values,
  // control states and, with autostart, StartForwarding. The window stays
  // hidden. False when the window could not be made. Call once.
  bool Create();
  // Shows the window created by Create().
  void Show();

  // Null before Create().
  Dialog* dialog() const { return dialog_.get(); }
  PaneControl* output_pane() const { return pane_; }
  const ControlStateTable& control_states() const { return control_states_; }
  const ProxyListener& listener() const { return run_.listener(); }
  const LogSinks& log_sinks() const { return run_.log_sinks(); }
  // Null until View > Sessions first opens it.
  SessionsView* sessions_window() const { return sessions_window_.get(); }
  // What the status line says now.
  std::string StatusText() const;
  // What the current (or last) run captured of its sessions; null before the
  // first Start and when the command line turned capturing off
  // (--capture-limit=0). Each Start makes a new one.
  std::shared_ptr<CaptureStore> capture_store() const { return run_.capture(); }
  // True while sinks are being released (commands are then deferred).
  bool releasing() const { return releasing_; }
  // The path chosen by the last confirmed Save As dialog.
  const std::string& command_script_path() const { return command_script_path_; }

  // MessageFilter: the dialog's keyboard handling (Tab, arrows, Enter for the
  // default button, Esc as command 2) is the toolkit's own. Consumed: the repeats of
  // an Esc pressed for another window (the Sessions window, a popup) that
  // closed on it and left this one active, so they don't end the program.
  bool PreTranslateMessage(const Message& message) override;
  // IdleHandler: applies the pending enabled states of the controls.
  bool OnIdle() override;

  // Copies between the controls and the fields, in the window's fixed pair
  // order; `control_id` limits it to one pair. At the first failing pair it
  // beeps, focuses that control and stops with false.
  bool ExchangeData(ExchangeDirection direction, int control_id = kExchangeAll);

 private:
  enum class DeferredCommand { kStart, kStop };

  // main_window.cc
  void OnInitDialog();
  void MapCommands();
  // Close button (1), Esc and the close box (2), Action > Exit (57665): ends
  // the window and the loop with `command_id` as exit code. Forwarding is not
  // stopped here; the destructor releases everything.
  void CloseMainWindow(int command_id);
  void VisitHomePageCommand();
  void AboutCommand();
  // View > Sessions (Ctrl+L): shows the Sessions window, made on first use.
  void SessionsCommand();
  void SetTitle(const std::string& title);
  bool ended() const { return ended_; }

  // main_window_forwarding.cc
  // Commands 1005/32772 and 1008/32773: deferred while a release is under
  // way, otherwise run, followed by whatever was deferred meanwhile.
  void StartCommand();
  void StopCommand();
  void RunDeferredCommands();
  void StartForwarding();
  void StopForwarding();
  // Reads every control; false (after a beep, with the focus on the field
  // and the status line naming it and why) when a port field holds no number
  // or one outside 0..65535, or Local Host holds something other than an IP
  // address.
  bool ReadSettings();
  // Releases the sinks of the current run while serving events; new sinks
  // are built only after it has returned.
  void ReleaseLogSinks();
  void UpdateRunningStates();

  // main_window_status.cc
  void CreateStatusLine();
  // Reads the run's figures into the status line; takes note of failures.
  void UpdateStatusLine();
  void ReportError(const std::string& text);
  // Shows the newest connect failure among the sessions that changed since
  // the last look (`sequence`: the store's count now).
  void NoteConnectFailures(const CaptureStore& store, uint64_t sequence);
  // Shows, once per run, that the traffic log could not be opened or
  // written, and how much it lacks.
  void NoteLogLoss();

  // main_window_commands.cc
  // Action > Conditions...: edits the conditions and limits; the conditions
  // reach a running forward's sessions at once, the limits the next Start.
  void ConditionsCommand();
  void SaveCommandScript();
  void BrowseLogFile();
  void ClearOutput();
  void OnWriteToFile();
  void OnShowInOutput();

  const UiServices services_;  // resolved: every member set

  // The fields the exchange pairs with the controls.
  const bool autostart_;
  std::string output_text_;
  std::string remote_host_;
  int32_t local_port_;
  std::string local_host_;  // the bind address as typed; empty: every IPv4 interface
  int32_t remote_port_;
  std::string log_file_name_;
  int32_t write_to_file_;
  int32_t show_in_output_;
  int32_t log_synchronously_;
  std::string command_script_path_;
  // Memory for each run's capture store (command line; not a field).
  const uint64_t capture_limit_;
  // From the command line, then as Action > Conditions... sets them: every
  // run and every saved script keeps them.
  std::vector<Condition> conditions_;
  SessionLimits limits_;

  ControlStateTable control_states_;
  std::unique_ptr<Dialog> dialog_;
  PaneControl* pane_ = nullptr;  // owned by dialog_
  MessageLoop* loop_ = nullptr;  // borrowed; set by Create()

  // The listener and log sinks of the current run; writes to pane_.
  ForwardingRun run_;

  std::unique_ptr<SessionsView> sessions_window_;
  bool has_status_line_ = false;                  // dialog_'s, with its timer
  std::string destination_text_;                  // of the run started last
  std::string last_error_;                        // shown in the status line
  std::string run_log_file_;                      // the log file of the run started last
  bool log_loss_noted_ = false;                   // its failure has been shown
  std::string log_loss_text_;                     // as it was last shown
  const CaptureStore* failures_store_ = nullptr;  // whose failures were looked at
  uint64_t failures_seen_after_ = 0;              // its sequence when failures were last looked for

  bool releasing_ = false;
  std::deque<DeferredCommand> deferred_;
  bool ended_ = false;                // closed, or being destroyed: commands do nothing
  bool escape_pressed_here_ = false;  // the Esc key held now was pressed for this window
  int close_code_ = 0;                // the closing command's id, the process's exit code
};

}  // namespace portwick

#endif  // PORTWICK_UI_MAIN_WINDOW_H_

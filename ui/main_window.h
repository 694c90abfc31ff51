#ifndef PORTWICK_UI_MAIN_WINDOW_H_
#define PORTWICK_UI_MAIN_WINDOW_H_

#include <cstdint>
#include <memory>
#include <string>

#include "app/idle_handler.h"
#include "app/message_filter.h"
#include "app/proxy_settings.h"
#include "ui/framework/control_state_table.h"
#include "ui/framework/data_exchange.h"
#include "ui/ui_services.h"

namespace portwick {

class MessageLoop;
class TemplateDialog;

// The program's only top-level window: dialog 129 with menu 201, holding the
// forwarding settings while the user edits them.
//
// Life: start-up constructs it from the command-line settings, calls
// Create() (the window's initialisation runs inside) and Show(), then runs
// the thread's MessageLoop until a closing command posts the quit code; the
// object is destroyed after the loop has ended. The loop found at Create()
// (the calling thread's, through the loop registry) must outlive this
// object. Everything here runs on the GUI thread.
class MainWindow : public MessageFilter, public IdleHandler {
 public:
  explicit MainWindow(const ProxySettings& settings, const UiServices& services = {});
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  ~MainWindow() override;

  // Builds the window from its template and initialises it: resizing,
  // centring, icon, registration with the thread's loop, field values and
  // control states. The window stays hidden. False when the window could not
  // be made. Call once.
  bool Create();
  // Shows the window created by Create().
  void Show();

  // Null before Create().
  TemplateDialog* dialog() const { return dialog_.get(); }
  const ControlStateTable& control_states() const { return control_states_; }

  // MessageFilter: the dialog's keyboard handling (Tab, arrows, Enter for the
  // default button, Esc as command 2) is Qt's own, so nothing is consumed.
  bool PreTranslateMessage(const Message& message) override;
  // IdleHandler: applies the pending enabled states of the controls.
  bool OnIdle() override;

  // Copies between the controls and the fields, in the window's fixed pair
  // order; `control_id` limits it to one pair. At the first failing pair it
  // beeps, focuses that control and stops with false.
  bool ExchangeData(ExchangeDirection direction, int control_id = kExchangeAll);

 private:
  void OnInitDialog();
  void MapCommands();

  // Close button (1), Esc and the close box (2), Action > Exit (57665): ends
  // the window and the loop with `command_id` as exit code.
  void CloseMainWindow(int command_id);
  void VisitHomePageCommand();
  void AboutCommand();

  // Commands whose behaviour comes with the forwarding; routed already.
  void StartForwarding() {}
  void StopForwarding() {}
  void SaveCommandScript() {}
  void BrowseLogFile() {}
  void ClearOutput() {}
  void OnWriteToFile() {}
  void OnShowInOutput() {}

  const UiServices services_;

  // The fields the exchange pairs with the controls.
  const bool autostart_;
  std::string output_text_;
  std::string remote_host_;
  int32_t local_port_;
  int32_t remote_port_;
  std::string log_file_name_;
  int32_t write_to_file_;
  int32_t show_in_output_ = 1;
  int32_t log_synchronously_ = 0;
  std::string command_script_path_;

  ControlStateTable control_states_;
  std::unique_ptr<TemplateDialog> dialog_;
  MessageLoop* loop_ = nullptr;  // borrowed; set by Create()
};

}  // namespace portwick

#endif  // PORTWICK_UI_MAIN_WINDOW_H_

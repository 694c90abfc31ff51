#ifndef PORTWICK_TESTS_UI_MAIN_WINDOW_FIXTURE_H_
#define PORTWICK_TESTS_UI_MAIN_WINDOW_FIXTURE_H_

#include <gtest/gtest.h>

#include <QtCore/QObject>
#include <QtCore/QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dialog_reads.h"
#include "run/proxy_settings.h"
#include "scripted_file_choosers.h"
#include "ui/framework/message_loop.h"
#include "ui/main_window.h"
#include "ui/version_reader.h"

class QWidget;

namespace portwick {

class Dialog;
class SessionsWindow;
class TemplateDialog;

// Records every title a widget takes.
class TitleRecorder : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override;
  std::vector<QString> titles;
};

// A main window on the GUI thread with the thread's loop registered, the
// file dialogs scripted and beeps counted.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Settings that forward from a port the system chooses to 127.0.0.1.
  static ProxySettings Forwarding(int remote_port);

  // Creates the window (not shown) and starts recording its titles.
  TemplateDialog& Open(const ProxySettings& settings);
  // The window's dialog: as the window sees it, and the Qt widget behind it
  // for what only the drawing shows.
  Dialog& window_dialog() const;
  TemplateDialog& dialog() const;
  // The window's status line, and its Sessions window (null until opened).
  QString StatusText() const;
  SessionsWindow* sessions() const;
  void Command(int command_id);
  // Clicks Start; whether the listener runs now.
  bool ClickStart();
  void SetField(int control_id, const std::string& text);
  void Click(int control_id);
  // The enabled state after the loop's next idle moment.
  bool EnabledAtIdle(int control_id);
  std::string Title() const;
  // Runs the loop, doing `action` once it has started; the exit code, or -1
  // when nothing ended the loop within ten seconds.
  int RunWith(const std::function<void()>& action);

  MessageLoop loop_;  // outlives the window
  ProductVersionCache cache_;
  ScriptedFileChoosers choosers_;
  std::string program_path_ = "/opt/port wick/portwick";  // as the window sees argv[0]
  TitleRecorder titles_;
  int beeps_ = 0;
  std::unique_ptr<MainWindow> window_;
};

// Threads of this process inside a send (sendto) call: a send that has
// room returns at once, so these are blocked in it.
int ThreadsBlockedInSend();

}  // namespace portwick

#endif  // PORTWICK_TESTS_UI_MAIN_WINDOW_FIXTURE_H_

#include "main_window_fixture.h"

#include <QtCore/QEvent>
#include <QtCore/QTimer>
#include <QtWidgets/QWidget>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ui/framework/data_exchange.h"
#include "ui/framework/loop_registry.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/main_window_template.h"
#include "ui/qt/sessions_view_qt.h"

namespace portwick {

bool TitleRecorder::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::WindowTitleChange) {
    titles.push_back(static_cast<QWidget*>(watched)->windowTitle());
  }
  return false;
}

void MainWindowTest::SetUp() {
  ASSERT_TRUE(LoopRegistry::Global().Add(std::this_thread::get_id(), &loop_));
  SetExchangeBeep([this] { ++beeps_; });
}

void MainWindowTest::TearDown() {
  window_.reset();
  SetExchangeBeep({});
  LoopRegistry::Global().Remove(std::this_thread::get_id());
}

ProxySettings MainWindowTest::Forwarding(int remote_port) {
  ProxySettings settings;
  settings.local_port = 0;
  settings.remote_host = "127.0.0.1";
  settings.remote_port = remote_port;
  return settings;
}

TemplateDialog& MainWindowTest::Open(const ProxySettings& settings) {
  UiServices services;
  services.open_url = [](const std::string&) { return true; };
  services.version_cache = &cache_;
  services.file_choosers = &choosers_;
  services.program_path = program_path_;
  window_ = std::make_unique<MainWindow>(settings, services);
  EXPECT_TRUE(window_->Create());
  dialog().installEventFilter(&titles_);
  return dialog();
}

Dialog& MainWindowTest::window_dialog() const { return *window_->dialog(); }

TemplateDialog& MainWindowTest::dialog() const { return QtDialogOf(*window_->dialog()); }

QString MainWindowTest::StatusText() const { return QString::fromStdString(window_->StatusText()); }

SessionsWindow* MainWindowTest::sessions() const {
  return QtSessionsWindowOf(window_->sessions_window());
}

bool MainWindowTest::ClickStart() {
  Command(kStartButton);
  return window_->listener().IsRunning();
}

void MainWindowTest::Command(int command_id) { window_dialog().SendCommand(command_id); }

void MainWindowTest::SetField(int control_id, const std::string& text) {
  ASSERT_TRUE(window_dialog().SetControlText(control_id, text));
}

// A click toggles the box, then sends its command.
void MainWindowTest::Click(int control_id) {
  int32_t state = 0;
  ASSERT_TRUE(window_dialog().GetCheck(control_id, &state));
  ASSERT_TRUE(window_dialog().SetCheck(control_id, state == 1 ? 0 : 1));
  window_dialog().SendCommand(control_id);
}

bool MainWindowTest::EnabledAtIdle(int control_id) {
  loop_.OnIdle(0);
  return window_dialog().IsControlEnabled(control_id);
}

std::string MainWindowTest::Title() const { return window_dialog().Title(); }

int MainWindowTest::RunWith(const std::function<void()>& action) {
  QTimer::singleShot(0, &dialog(), action);
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [this] { loop_.PostQuit(-1); });
  guard.start(10000);
  return loop_.Run();
}

int ThreadsBlockedInSend() {
  constexpr int kSendTo = 44;  // x86-64
  int count = 0;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    std::ifstream syscall(task.path() / "syscall");
    int number = -1;
    if (syscall >> number && number == kSendTo) ++count;
  }
  return count;
}

}  // namespace portwick

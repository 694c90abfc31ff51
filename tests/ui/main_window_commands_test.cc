// The main window in its message loop: first field values and control
// states, the closing commands' exit codes, and the Help commands.
#include <gtest/gtest.h>

#include <QtCore/QTimer>
#include <QtGui/QAction>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dialog_reads.h"
#include "ui/about_box.h"
#include "ui/framework/loop_registry.h"
#include "ui/framework/message_loop.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/main_window.h"
#include "ui/main_window_template.h"
#include "ui/version_reader.h"

namespace portwick {
namespace {

class MainWindowCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoopRegistry::Global().Add(std::this_thread::get_id(), &loop_));
  }
  void TearDown() override {
    window_.reset();
    LoopRegistry::Global().Remove(std::this_thread::get_id());
  }

  UiServices Services() {
    UiServices services;
    services.open_url = [this](const std::string& address) {
      opened_.push_back(address);
      return true;
    };
    services.version_cache = &cache_;
    return services;
  }

  TemplateDialog& Open(const ProxySettings& settings = {}) {
    window_ = std::make_unique<MainWindow>(settings, Services());
    EXPECT_TRUE(window_->Create());
    return QtDialogOf(*window_->dialog());
  }

  // Runs the loop, doing `action` once it has started; returns the exit code,
  // or -1 when nothing ended the loop within five seconds.
  int RunWith(const std::function<void()>& action) {
    QTimer::singleShot(0, QtDialogOf(window_->dialog()), action);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [this] { loop_.PostQuit(-1); });
    guard.start(5000);
    return loop_.Run();
  }

  MessageLoop loop_;  // outlives the window
  ProductVersionCache cache_;
  std::vector<std::string> opened_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowCommandsTest, StartsWithTheBuiltInSettings) {
  Open();
  const Dialog& d = *window_->dialog();
  EXPECT_EQ(TextOf(d, kLocalPortField), "1999");
  EXPECT_EQ(TextOf(d, kLocalHostField), "");
  EXPECT_EQ(TextOf(d, kRemoteHostField), "localhost");
  EXPECT_EQ(TextOf(d, kRemotePortField), "2007");
  EXPECT_EQ(TextOf(d, kFileNameField), "");
  EXPECT_FALSE(IsChecked(d, kWriteToFileBox));
  EXPECT_TRUE(IsChecked(d, kShowInOutputBox));
  EXPECT_FALSE(IsChecked(d, kLogSynchronouslyBox));
  EXPECT_TRUE(TextOf(d, kOutputPane).empty());
  EXPECT_EQ(d.Title(), "Portwick");

  // The states take effect at the loop's next idle moment, not before.
  EXPECT_TRUE(d.IsControlEnabled(kFileNameField));
  loop_.OnIdle(0);
  const std::pair<int, bool> states[] = {
      {kFileNameField, false}, {kBrowseButton, false}, {kStopButton, false},
      {kStartButton, true},    {kOutputPane, true},    {kClearButton, true},
  };
  for (const auto& [id, enabled] : states) EXPECT_EQ(d.IsControlEnabled(id), enabled) << id;
  EXPECT_FALSE(window_->control_states().pending());
}

TEST_F(MainWindowCommandsTest, CommandLineOptionsSetTheFieldsAndTheBoxes) {
  ProxySettings settings;
  settings.log_file_name = "/tmp/traffic.log";  // ticks Write to File
  settings.local_port = -1;
  settings.remote_port = 70000;
  settings.remote_host = "fe80::1%lo";
  settings.bind_address = "[::1]";
  settings.show_in_output = false;    // --output=off
  settings.log_synchronously = true;  // --synch
  Open(settings);
  const Dialog& d = *window_->dialog();
  EXPECT_EQ(TextOf(d, kFileNameField), "/tmp/traffic.log");
  EXPECT_EQ(TextOf(d, kLocalPortField), "-1");
  EXPECT_EQ(TextOf(d, kRemotePortField), "70000");
  EXPECT_EQ(TextOf(d, kRemoteHostField), "fe80::1%lo");
  EXPECT_EQ(TextOf(d, kLocalHostField), "[::1]");
  EXPECT_TRUE(IsChecked(d, kWriteToFileBox));
  EXPECT_FALSE(IsChecked(d, kShowInOutputBox));
  EXPECT_TRUE(IsChecked(d, kLogSynchronouslyBox));
  loop_.OnIdle(0);
  EXPECT_TRUE(d.IsControlEnabled(kFileNameField));
  EXPECT_TRUE(d.IsControlEnabled(kBrowseButton));
  EXPECT_FALSE(d.IsControlEnabled(kOutputPane));
  EXPECT_FALSE(d.IsControlEnabled(kStopButton));
  EXPECT_TRUE(d.IsControlEnabled(kStartButton));
}

TEST_F(MainWindowCommandsTest, ClosingCommandsEndTheLoopWithTheirIds) {
  struct Case {
    const char* name;
    std::function<void(TemplateDialog&)> close;
    int exit_code;
  };
  const Case cases[] = {
      {"Close button",
       [](TemplateDialog& d) { QTest::mouseClick(d.Button(kCloseButton), Qt::LeftButton); }, 1},
      {"Esc", [](TemplateDialog& d) { QTest::keyClick(d.Edit(kLocalPortField), Qt::Key_Escape); },
       2},
      {"close box", [](TemplateDialog& d) { d.close(); }, 2},
      {"Action > Exit", [](TemplateDialog& d) { d.MenuAction(kExitCommand)->trigger(); }, 57665},
  };
  for (const Case& c : cases) {
    TemplateDialog& d = Open();
    window_->Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    EXPECT_EQ(RunWith([&] { c.close(d); }), c.exit_code) << c.name;
    EXPECT_FALSE(d.isVisible()) << c.name;
    EXPECT_TRUE(d.window_destroyed()) << c.name;
  }
}

TEST_F(MainWindowCommandsTest, VisitHomePageOpensTheMenuAddress) {
  TemplateDialog& d = Open();
  d.MenuAction(kVisitHomePageCommand)->trigger();
  EXPECT_EQ(opened_, std::vector<std::string>{"https://portwick.org/portwick/?from=menu"});
}

TEST_F(MainWindowCommandsTest, AboutFromButtonAndMenuShowsTheModalBoxOverTheWindow) {
  TemplateDialog& d = Open();
  window_->Show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
  // At first the first control that takes the focus has it.
  EXPECT_EQ(QApplication::focusWidget(), d.Edit(kLocalPortField));
  const std::function<void()> commands[] = {
      [&] { QTest::mouseClick(d.Button(kAboutCommand), Qt::LeftButton); },
      [&] { d.MenuAction(kAboutCommand)->trigger(); },
  };
  for (const auto& command : commands) {
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    QString label;
    QWidget* owner = nullptr;
    bool found = false;
    QTimer::singleShot(0, &d, [&] {
      auto* box = qobject_cast<TemplateDialog*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      found = true;
      label = box->Label(kAboutVersionLabel)->text();
      owner = box->parentWidget();
      QTest::mouseClick(box->Button(kCommandOk), Qt::LeftButton);
    });
    command();  // returns when the box has been closed
    ASSERT_TRUE(found);
    EXPECT_EQ(label, "Portwick 1.7.0.0");
    EXPECT_EQ(owner, &d);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  }
  EXPECT_TRUE(opened_.empty());
}

}  // namespace
}  // namespace portwick

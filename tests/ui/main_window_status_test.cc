// The main window's status line: stopped or listening where, and a Start
// that cannot listen says why there while the title stays as it was.
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QStatusBar>
#include <string>

#include "main_window_fixture.h"
#include "serve_events_until.h"
#include "test_server.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/main_window_template.h"
#include "ui/qt/session_list_model.h"
#include "ui/qt/sessions_window.h"

namespace portwick {
namespace {

TEST_F(MainWindowTest, StatusLineSaysWhereItListensAndWhyAStartFailed) {
  testing::TestServer occupant;  // holds a port
  ProxySettings settings = Forwarding(2007);
  settings.local_port = occupant.port();
  TemplateDialog& d = Open(settings);
  ASSERT_NE(d.status_bar(), nullptr);
  EXPECT_TRUE(StatusText().startsWith("Stopped"));

  Command(kStartButton);
  ASSERT_FALSE(window_->listener().IsRunning());
  EXPECT_TRUE(titles_.titles.empty()) << "the title doesn't change";
  const std::string busy = "Cannot open port " + std::to_string(occupant.port()) + ": ";
  EXPECT_TRUE(StatusText().contains(QString::fromStdString(busy))) << StatusText().toStdString();
  EXPECT_TRUE(StatusText().contains("Address already in use")) << StatusText().toStdString();

  SetField(kLocalPortField, "0");
  ASSERT_TRUE(ClickStart());
  const QString listening =
      QString("Listening on port %1 for 127.0.0.1:2007").arg(window_->listener().BoundPort());
  EXPECT_TRUE(StatusText().startsWith(listening)) << StatusText().toStdString();
  EXPECT_FALSE(StatusText().contains("Cannot open")) << "a new run, no old failure";

  Command(kStopButton);
  EXPECT_TRUE(StatusText().startsWith("Stopped"));
}

TEST_F(MainWindowTest, TheStatusBarLeavesTheTemplateLayoutAsItWas) {
  TemplateDialog& d = Open(ProxySettings{});
  // The client area keeps the template's size; the bar lies below it.
  EXPECT_EQ(d.client()->height() + d.status_bar()->height() +
                (d.menu_bar() != nullptr ? d.menu_bar()->height() : 0),
            d.height());
  EXPECT_GE(d.status_bar()->geometry().top(), d.client()->geometry().bottom());
}

}  // namespace
}  // namespace portwick

namespace portwick {
namespace {

TEST_F(MainWindowTest, StatusLineCountsTheRunsSessionsAndNamesAFailedConnect) {
  int refused_port = 0;
  Socket not_listening = testing::BoundButNotListening(&refused_port);
  ASSERT_TRUE(not_listening.valid());
  TemplateDialog& d = Open(Forwarding(refused_port));
  ASSERT_TRUE(ClickStart());
  Socket client = testing::ConnectLoopback(window_->listener().BoundPort());
  ASSERT_TRUE(client.valid());
  // The session fails at once; the status line notices within a few reads.
  const std::string failure =
      "Session 1: cannot connect to 127.0.0.1:" + std::to_string(refused_port) +
      ": Connection refused";
  ServeEventsUntil([&] { return StatusText().contains(failure.c_str()); });
  EXPECT_TRUE(StatusText().contains(failure.c_str())) << StatusText().toStdString();
  EXPECT_TRUE(StatusText().contains(" / 1 session | ")) << StatusText().toStdString();
  // The bar may cut the line off; its tooltip holds all of it.
  EXPECT_EQ(d.status_bar()->findChild<QLabel*>("status_line")->toolTip(), StatusText());
  EXPECT_TRUE(StatusText().contains("capture ")) << "the run keeps a capture";

  // The Sessions window shows the run's sessions, the failed one included.
  d.SendCommand(kSessionsCommand);
  ASSERT_NE(sessions(), nullptr);
  EXPECT_EQ(sessions()->store(), window_->capture_store().get());
  sessions()->Refresh();
  ASSERT_EQ(sessions()->session_model()->rowCount(), 1);
  EXPECT_EQ(sessions()->session_model()->SessionAt(0)->state, CapturedState::kFailed);
  Command(kStopButton);
}

}  // namespace
}  // namespace portwick

namespace portwick {
namespace {

TEST_F(MainWindowTest, StatusLineSaysOnceThatTheLogFileCannotBeWritten) {
  testing::TestServer echo([](int fd) {
    for (;;) {
      const testing::ReadResult got = testing::ReadExactly(fd, 1, std::chrono::seconds(5));
      if (got.data.empty() || !testing::SendBytes(fd, got.data)) return;
    }
  });
  ProxySettings settings = Forwarding(echo.port());
  settings.log_file_name = "/nonexistent-portwick-dir/traffic.log";
  settings.show_in_output = false;
  Open(settings);
  ASSERT_TRUE(ClickStart());
  Socket client = testing::ConnectLoopback(window_->listener().BoundPort());
  ASSERT_TRUE(client.valid());
  for (const char* text : {"one\n", "two\n"}) {
    ASSERT_TRUE(testing::SendBytes(client.fd(), text));
    EXPECT_EQ(testing::ReadExactly(client.fd(), 4).data, text) << "forwarding goes on";
  }
  const QString failure =
      "Cannot open the traffic log /nonexistent-portwick-dir/traffic.log: "
      "No such file or directory; ";
  ServeEventsUntil([&] { return StatusText().contains(failure); });
  EXPECT_TRUE(StatusText().contains(failure)) << StatusText().toStdString();
  EXPECT_TRUE(StatusText().contains("not written")) << StatusText().toStdString();
  Command(kStopButton);
}

}  // namespace
}  // namespace portwick

// The main window's status line: stopped or listening where, and a Start
// that cannot listen says why there while the title stays as it was.
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QStatusBar>
#include <string>

#include "main_window_fixture.h"
#include "test_server.h"
#include "ui/framework/template_dialog.h"
#include "ui/main_window_template.h"

namespace portwick {
namespace {

TEST_F(MainWindowTest, StatusLineSaysWhereItListensAndWhyAStartFailed) {
  testing::TestServer occupant;  // holds a port
  ProxySettings settings = Forwarding(2007);
  settings.local_port = occupant.port();
  TemplateDialog& d = Open(settings);
  ASSERT_NE(d.status_bar(), nullptr);
  EXPECT_TRUE(window_->StatusText().startsWith("Stopped"));

  Command(kStartButton);
  ASSERT_FALSE(window_->listener().IsRunning());
  EXPECT_TRUE(titles_.titles.empty()) << "the title doesn't change";
  const std::string busy = "Cannot open port " + std::to_string(occupant.port()) + ": ";
  EXPECT_TRUE(window_->StatusText().contains(QString::fromStdString(busy)))
      << window_->StatusText().toStdString();
  EXPECT_TRUE(window_->StatusText().contains("Address already in use"))
      << window_->StatusText().toStdString();

  SetField(kLocalPortField, "0");
  Command(kStartButton);
  ASSERT_TRUE(window_->listener().IsRunning());
  const QString listening =
      QString("Listening on port %1 for 127.0.0.1:2007").arg(window_->listener().BoundPort());
  EXPECT_TRUE(window_->StatusText().startsWith(listening)) << window_->StatusText().toStdString();
  EXPECT_FALSE(window_->StatusText().contains("Cannot open")) << "a new run, no old failure";

  Command(kStopButton);
  EXPECT_TRUE(window_->StatusText().startsWith("Stopped"));
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

// Action > Conditions...: refusals in the parser's words, the fields read
// back, and the edits reaching a running forward's open session, the status
// line and a saved script.
#include "ui/conditions_dialog.h"

#include <QtCore/QTimer>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>
#include <functional>
#include <string>
#include <vector>

#include "main_window_fixture.h"
#include "test_server.h"
#include "tests/trafficlog/trafficlog_test_support.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/main_window_template.h"

namespace portwick {
namespace {

std::vector<Condition> Parse(const std::vector<std::string>& texts) {
  std::vector<Condition> conditions;
  for (const std::string& text : texts) conditions.push_back(*ParseCondition(text, nullptr));
  return conditions;
}

void Type(TemplateDialog& d, int field, const char* text) { d.Edit(field)->setText(text); }
void ClickOk(TemplateDialog& d) { QTest::mouseClick(d.Button(kCommandOk), Qt::LeftButton); }

// Calls `run`, which runs a modal dialog, and does `act` on that dialog once
// it shows; a dialog still open after five seconds ends with -1.
void RunModalWith(const std::function<void()>& run,
                  const std::function<void(TemplateDialog&)>& act) {
  const auto modal = [] {
    return qobject_cast<TemplateDialog*>(QApplication::activeModalWidget());
  };
  QObject scope;  // its timers go with it
  QTimer::singleShot(0, &scope, [&] {
    if (modal() != nullptr) act(*modal());
  });
  QTimer::singleShot(5000, &scope, [&] {
    if (modal() != nullptr) modal()->done(-1);
  });
  run();
}

using ConditionsDialogTest = MainWindowTest;

// Each bad value in a box filled from `given` (more conditions than fields:
// the last one holds the rest); put back as it was, all of it reads back.
TEST_F(ConditionsDialogTest, RefusesABadValueWithTheParsersMessageAndReadsBackTheRest) {
  ConditionsForm given;
  given.conditions = Parse({"down:delay=100ms,jitter=10ms", "up:rate=64K", "up:slice=1,pause=5ms",
                            "down:cut=4K,end=reset", "up:stall=5s", "down:close-delay=1s",
                            "both:delay=1ms,probability=0.5", "up:cut=7", "down:rate=1M"});
  given.limits = {.connect_timeout = std::chrono::seconds(5), .max_sessions = 3};
  const struct {
    int field;
    const char* text;
    std::string refusal;
  } kCases[] = {
      {kConditionField + 2, "down:dleay=100ms",
       "Condition 3: unknown condition 'dleay': delay, rate, slice, cut, stall or close-delay"},
      {kConditionField + 7, "down:delay=1s  up:rate=0",
       "Condition 8: rate '0' lets nothing pass: at least 1 (stall=0 stops a direction)"},
      {kConnectTimeoutField, "5 sec",
       "Connect time-out: duration '5 sec' is not a whole number with ms, s or m"},
      {kIdleTimeoutField, "25h",
       "Idle time-out: duration '25h' is not a whole number with ms, s or m"},
      {kSessionCapField, "1000001",
       "Session cap: '1000001' is not a number of sessions from 0 to 1000000"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    beeps_ = 0;
    ConditionsDialog box(nullptr, given);
    bool open = false;
    int focused = 0;
    QString refusal;
    int result = 0;
    RunModalWith([&] { result = box.Run(); },
                 [&](TemplateDialog& d) {
                   const QString before = d.Edit(c.field)->text();
                   Type(d, c.field, c.text);
                   ClickOk(d);
                   open = d.isVisible();
                   focused = box.dialog().FocusedControl();
                   refusal = d.Label(kConditionsRefusalLabel)->text();
                   d.Edit(c.field)->setText(before);
                   ClickOk(d);
                 });
    EXPECT_TRUE(open);
    EXPECT_EQ(focused, c.field);
    EXPECT_EQ(refusal.toStdString(), c.refusal);
    EXPECT_EQ(beeps_, 1);
    EXPECT_EQ(result, kCommandOk);
    EXPECT_EQ(box.form().conditions, given.conditions);
    EXPECT_EQ(box.form().limits, given.limits);
  }
}

// The session open before the edit is cut at 10 bytes of its stream.
TEST_F(ConditionsDialogTest, EditsReachTheRunningForwardTheStatusLineAndTheScript) {
  testing::TestServer server;
  Open(Forwarding(server.port()));
  ASSERT_TRUE(ClickStart());
  Socket client = testing::ConnectLoopback(window_->listener().BoundPort());
  Socket peer = server.WaitAccept();
  ASSERT_TRUE(peer.valid());
  EXPECT_EQ(testing::SendAndRead(peer.fd(), client.fd(), "hello"), "hello");
  bool over_the_window = false;
  // The command returns once the dialog has closed.
  RunModalWith([&] { dialog().MenuAction(kConditionsCommand)->trigger(); },
               [&](TemplateDialog& d) {
                 over_the_window = d.parentWidget() == &dialog();
                 Type(d, kConditionField, " down : cut=10 ,  end = reset");
                 Type(d, kSessionCapField, "3");
                 ClickOk(d);
               });
  ASSERT_TRUE(over_the_window);
  const std::string bytes = testing::PatternBytes(100);
  ASSERT_TRUE(testing::SendBytes(peer.fd(), bytes));
  const testing::ReadResult read = testing::ReadUntilEnd(client.fd(), std::chrono::seconds(3));
  EXPECT_EQ(read.data, bytes.substr(0, 5));
  EXPECT_EQ(read.end, testing::StreamEnd::kReset);
  EXPECT_TRUE(StatusText().contains(" | Conditions: down cut 10 B reset | "))
      << StatusText().toStdString();

  logtesting::TempDir dir;
  choosers_.answers = {dir.File("again.sh")};
  Command(kSaveAsCommand);
  EXPECT_NE(logtesting::ReadFile(dir.File("again.sh"))
                .find(" --max-sessions=3 --condition=down:cut=10,end=reset "),
            std::string::npos);
  Command(kStopButton);
}

}  // namespace
}  // namespace portwick

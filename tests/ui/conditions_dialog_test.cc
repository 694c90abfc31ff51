// Action > Conditions...: the dialog refusing what the parser refuses (the
// field keeps the focus and the line says why), showing and reading back
// what it was given, and its edits reaching a running forward's open
// session, the status line and a saved script.
#include "ui/conditions_dialog.h"

#include <QtCore/QTimer>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "main_window_fixture.h"
#include "test_server.h"
#include "tests/trafficlog/trafficlog_test_support.h"
#include "ui/conditions_summary.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/main_window_template.h"

namespace portwick {
namespace {

std::vector<Condition> Parse(const std::vector<std::string>& texts) {
  std::vector<Condition> conditions;
  for (const std::string& text : texts) conditions.push_back(*ParseCondition(text, nullptr));
  return conditions;
}

void Type(TemplateDialog& d, int field, const std::string& text) {
  d.Edit(field)->setText(QString::fromStdString(text));
}
void ClickOk(TemplateDialog& d) { QTest::mouseClick(d.Button(kCommandOk), Qt::LeftButton); }

// Runs `run` (which shows a modal dialog and returns its result), doing
// `act` on the dialog once it shows; a guard ends a dialog still open after
// five seconds with -1.
int RunModalWith(const std::function<int()>& run, const std::function<void(TemplateDialog&)>& act) {
  QTimer::singleShot(0, [&] {
    if (auto* d = qobject_cast<TemplateDialog*>(QApplication::activeModalWidget())) act(*d);
  });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] {
    if (auto* d = qobject_cast<TemplateDialog*>(QApplication::activeModalWidget())) d->done(-1);
  });
  guard.start(5000);
  return run();
}

using ConditionsDialogTest = MainWindowTest;

TEST_F(ConditionsDialogTest, ABadValueIsRefusedWithTheParsersMessageAndKeepsTheFocus) {
  const struct {
    int field;
    std::string text;
    std::string refusal;
  } kCases[] = {
      {kConditionField + 2, "down:dleay=100ms",
       "Condition 3: unknown condition 'dleay': delay, rate, slice, cut, stall or close-delay"},
      {kConditionField, "up:rate=0",
       "Condition 1: rate '0' lets nothing pass: at least 1 (stall=0 stops a direction)"},
      {kConditionField + 7, "down:delay=1s  up:cut=-5",
       "Condition 8: size '-5' is not a whole number of bytes with K, M or G"},
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
    ConditionsDialog box(nullptr, {});
    bool still_open = false;
    int focused = 0;
    std::string refusal;
    const int result = RunModalWith([&] { return box.Run(); },
                                    [&](TemplateDialog& d) {
                                      Type(d, kConditionField + 1, "both:delay=5ms");
                                      Type(d, c.field, c.text);
                                      ClickOk(d);
                                      still_open = d.isVisible();
                                      focused = box.dialog().FocusedControl();
                                      refusal =
                                          d.Label(kConditionsRefusalLabel)->text().toStdString();
                                      // Put right, it is taken.
                                      Type(d, c.field, "");
                                      ClickOk(d);
                                    });
    EXPECT_TRUE(still_open);
    EXPECT_EQ(focused, c.field);
    EXPECT_EQ(refusal, c.refusal);
    EXPECT_EQ(beeps_, 1);
    EXPECT_EQ(result, kCommandOk);
    EXPECT_EQ(box.form().conditions, Parse({"both:delay=5ms"}));
  }
}

TEST_F(ConditionsDialogTest, ShowsWhatItIsGivenAndReadsBackEdits) {
  ConditionsForm given;
  // More than there are fields: the last one holds the rest.
  given.conditions = Parse({"down:delay=100ms,jitter=10ms", "up:rate=64K", "up:slice=1,pause=5ms",
                            "down:cut=4K,end=reset", "up:stall=5s", "down:close-delay=1s",
                            "both:delay=1ms,probability=0.5", "up:cut=7", "down:rate=1M"});
  given.limits = {.connect_timeout = std::chrono::seconds(5), .max_sessions = 3};
  {
    ConditionsDialog box(nullptr, given);
    const Dialog& d = box.dialog();
    EXPECT_EQ(TextOf(d, kConditionField), "down:delay=100ms,jitter=10ms");
    EXPECT_EQ(TextOf(d, kConditionField + 6), "both:delay=1ms,probability=0.5");
    EXPECT_EQ(TextOf(d, kConditionField + 7), "up:cut=7 down:rate=1M");
    EXPECT_EQ(TextOf(d, kConnectTimeoutField), "5s");
    EXPECT_EQ(TextOf(d, kIdleTimeoutField), "");
    EXPECT_EQ(TextOf(d, kSessionCapField), "3");
    EXPECT_EQ(RunModalWith([&] { return box.Run(); }, ClickOk), kCommandOk);
    EXPECT_EQ(box.form().conditions, given.conditions);
    EXPECT_EQ(box.form().limits, given.limits);
  }
  const auto edit = [](TemplateDialog& d) {
    Type(d, kConditionField, "up:rate=32K");
    for (int i = 1; i < kConditionFieldCount; ++i) Type(d, kConditionField + i, "");
    Type(d, kConnectTimeoutField, "0");
    Type(d, kIdleTimeoutField, "30s");
    Type(d, kSessionCapField, " ");
  };
  ConditionsDialog edited(nullptr, given);
  EXPECT_EQ(RunModalWith([&] { return edited.Run(); },
                         [&](TemplateDialog& d) {
                           edit(d);
                           ClickOk(d);
                         }),
            kCommandOk);
  EXPECT_EQ(edited.form().conditions, Parse({"up:rate=32K"}));
  EXPECT_EQ(edited.form().limits, (SessionLimits{.idle_timeout = std::chrono::seconds(30)}));
  // Cancel keeps what it was given.
  ConditionsDialog cancelled(nullptr, given);
  EXPECT_EQ(RunModalWith([&] { return cancelled.Run(); },
                         [&](TemplateDialog& d) {
                           edit(d);
                           QTest::keyClick(&d, Qt::Key_Escape);
                         }),
            kCommandCancel);
  EXPECT_EQ(cancelled.form().conditions, given.conditions);
  EXPECT_EQ(beeps_, 0);
}

TEST(ConditionsSummaryTest, ShortAndExact) {
  const struct {
    std::vector<std::string> conditions;
    std::string summary;
  } kCases[] = {
      {{}, ""},
      {{"down:delay=100ms", "up:rate=64K"}, "down delay 100 ms; up rate 64 KiB/s"},
      {{"both:delay=1500ms,jitter=10ms,probability=0.25"},
       "both delay 1.5 s \xC2\xB1"
       "10 ms (25 %)"},
      {{"up:slice=1500,pause=5ms", "down:cut=4K,end=reset", "down:cut=1M"},
       "up slice 1500 B pause 5 ms; down cut 4 KiB reset; down cut 1 MiB"},
      {{"up:stall=0", "down:stall=2m", "down:close-delay=1s"},
       "up stall; down stall after 120 s; down close-delay 1 s"},
  };
  for (const auto& c : kCases) EXPECT_EQ(ConditionsSummary(Parse(c.conditions)), c.summary);
}

// Within a menu or a dialog no two items share a mnemonic.
TEST(ConditionsDialogTemplateTest, MnemonicsDontCollide) {
  const auto letters = [](auto&& texts) {
    std::string seen;
    for (const char* text : texts) {
      const char* amp = text != nullptr ? std::strchr(text, '&') : nullptr;
      if (amp != nullptr) seen += static_cast<char>(std::tolower(amp[1]));
    }
    return seen;
  };
  std::vector<std::vector<const char*>> groups;
  for (const MenuTemplate& menu : MainWindowTemplate().menus) {
    groups.emplace_back();
    for (const MenuItemTemplate& item : menu.items) groups.back().push_back(item.text);
  }
  groups.emplace_back();
  for (const ControlTemplate& control : ConditionsDialogTemplate().controls) {
    groups.back().push_back(control.text);
  }
  for (const auto& group : groups) {
    std::string seen = letters(group);
    std::ranges::sort(seen);
    EXPECT_EQ(std::ranges::adjacent_find(seen), seen.end()) << seen;
  }
  EXPECT_EQ(letters(groups.back()), "cnip");
}

// The window's run picks up the edit at once: the session open before it
// is cut at 10 bytes of its stream, the other direction passes as it was.
TEST_F(ConditionsDialogTest, EditsReachTheRunningForwardTheStatusLineAndTheScript) {
  testing::TestServer server;
  Open(Forwarding(server.port()));
  ASSERT_TRUE(ClickStart());
  Socket client = testing::ConnectLoopback(window_->listener().BoundPort());
  Socket peer = server.WaitAccept();
  ASSERT_TRUE(peer.valid());
  EXPECT_EQ(testing::SendAndRead(peer.fd(), client.fd(), "hello"), "hello");

  bool shown = false;
  RunModalWith(
      [&] {
        dialog().MenuAction(kConditionsCommand)->trigger();  // returns once it has closed
        return 0;
      },
      [&](TemplateDialog& d) {
        shown = d.parentWidget() == &dialog();
        Type(d, kConditionField, "down:cut=10,end=reset");
        Type(d, kSessionCapField, "3");
        ClickOk(d);
      });
  ASSERT_TRUE(shown) << "the dialog over the window";
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  EXPECT_EQ(testing::SendAndRead(client.fd(), peer.fd(), "up"), "up");
  const std::string bytes = testing::PatternBytes(100);
  ASSERT_TRUE(testing::SendBytes(peer.fd(), bytes));
  const testing::ReadResult read = testing::ReadUntilEnd(client.fd());
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

// The main window starting and stopping the forwarding: titles, control
// states, refusals, the sinks built from the check boxes, traffic through the
// real window, and commands that arrive while sinks are being released.
#include <gtest/gtest.h>

#include <QtCore/QMetaObject>
#include <QtTest/QTest>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLineEdit>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_store.h"
#include "main_window_fixture.h"
#include "serve_events_until.h"
#include "test_server.h"
#include "tests/trafficlog/trafficlog_test_support.h"
#include "trafficlog/file_log_sink.h"
#include "trafficlog/queued_file_log_sink.h"
#include "trafficlog/queued_window_log_sink.h"
#include "trafficlog/window_log_sink.h"
#include "ui/framework/qt/output_pane_widget.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/main_window_template.h"

namespace portwick {
namespace {

const QString kStopRequested = "[Stop requested] - Portwick";
const QString kStopped = "[Stopped] - Portwick";

QString Running(int local_port, int remote_port, const std::string& host) {
  return QString::fromStdString("[LP: " + std::to_string(local_port) + ", RP: " +
                                std::to_string(remote_port) + ", RH: " + host + "] - Portwick");
}

using Titles = std::vector<QString>;

TEST_F(MainWindowTest, AutostartShowsTheWindowAlreadyRunning) {
  ProxySettings settings = Forwarding(2007);
  settings.autostart = true;
  TemplateDialog& d = Open(settings);
  ASSERT_TRUE(window_->listener().IsRunning());
  // Local port 0: the title shows the port the system chose.
  const int port = window_->listener().BoundPort();
  EXPECT_GT(port, 0);
  EXPECT_EQ(d.windowTitle(), Running(port, 2007, "127.0.0.1"));
  EXPECT_EQ(TextOf(window_dialog(), kLocalPortField), "0");
  EXPECT_FALSE(EnabledAtIdle(kStartButton));
  EXPECT_TRUE(EnabledAtIdle(kStopButton));

  // The built-in settings, unless another program holds port 1999 here.
  ProxySettings built_in;
  built_in.autostart = true;
  Open(built_in);
  if (window_->listener().IsRunning()) {
    EXPECT_EQ(Title(), "[LP: 1999, RP: 2007, RH: localhost] - Portwick");
  } else {
    EXPECT_EQ(Title(), "Portwick");
    EXPECT_TRUE(EnabledAtIdle(kStartButton));
  }
}

TEST_F(MainWindowTest, StartStopAndASecondStartSetTheirTitlesAndButtons) {
  Open(Forwarding(2007));
  ASSERT_TRUE(ClickStart());
  const int first_port = window_->listener().BoundPort();
  EXPECT_FALSE(EnabledAtIdle(kStartButton));
  EXPECT_TRUE(EnabledAtIdle(kStopButton));

  Command(kStopCommand);
  EXPECT_FALSE(window_->listener().IsRunning());
  EXPECT_TRUE(EnabledAtIdle(kStartButton));
  EXPECT_FALSE(EnabledAtIdle(kStopButton));

  // The second Start reads the fields again.
  SetField(kRemoteHostField, "localhost");
  SetField(kRemotePortField, "4321");
  Command(kStartCommand);
  ASSERT_TRUE(window_->listener().IsRunning());
  EXPECT_EQ(titles_.titles,
            (Titles{Running(first_port, 2007, "127.0.0.1"), kStopRequested, kStopped,
                    Running(window_->listener().BoundPort(), 4321, "localhost")}));
  EXPECT_EQ(beeps_, 0);
}

TEST_F(MainWindowTest, StopBeforeAnyStartShowsBothStopTitles) {
  Open(ProxySettings{});
  Command(kStopCommand);
  EXPECT_EQ(titles_.titles, (Titles{kStopRequested, kStopped}));
  EXPECT_TRUE(EnabledAtIdle(kStartButton));
  EXPECT_FALSE(EnabledAtIdle(kStopButton));
}

TEST_F(MainWindowTest, StartThatCannotListenOrFindsItRunningChangesNothing) {
  testing::TestServer occupant;  // holds a port
  ProxySettings settings = Forwarding(2007);
  settings.local_port = occupant.port();
  Open(settings);
  Command(kStartButton);
  EXPECT_FALSE(window_->listener().IsRunning());
  EXPECT_TRUE(titles_.titles.empty());
  EXPECT_TRUE(EnabledAtIdle(kStartButton));
  EXPECT_FALSE(EnabledAtIdle(kStopButton));
  // The sinks of that Start stay until the next Start, Stop or close.
  EXPECT_NE(window_->log_sinks().chain, nullptr);

  SetField(kLocalPortField, "0");
  ASSERT_TRUE(ClickStart());
  const LogSinkChain* chain = window_->log_sinks().chain.get();
  const LogSinkHandle* handle = window_->log_sinks().handle.get();
  const int port = window_->listener().BoundPort();
  const std::string title = Title();
  // Action > Start while running is refused: same listener, same sinks.
  SetField(kRemotePortField, "9");
  Command(kStartCommand);
  EXPECT_EQ(window_->listener().BoundPort(), port);
  EXPECT_EQ(window_->log_sinks().chain.get(), chain);
  EXPECT_EQ(window_->log_sinks().handle.get(), handle);
  EXPECT_FALSE(handle->IsDetached());
  EXPECT_EQ(Title(), title);
}

TEST_F(MainWindowTest, PortFieldsWithoutAUsablePortStopStartAndSaveAsButNotStop) {
  struct Case {
    int field;
    const char* text;
  };
  const Case kCases[] = {
      {kRemotePortField, "abc"}, {kRemotePortField, ""},           {kRemotePortField, "70000"},
      {kRemotePortField, "-5"},  {kLocalPortField, "-1"},          {kLocalPortField, "65536"},
      {kLocalPortField, "1e3"},  {kLocalPortField, "99999999999"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.field) + " [" + c.text + "]");
    Open(Forwarding(2007));
    titles_.titles.clear();
    choosers_.requests.clear();
    beeps_ = 0;
    SetField(c.field, c.text);
    Command(kStartButton);
    EXPECT_EQ(beeps_, 1);
    EXPECT_EQ(window_dialog().FocusedControl(), c.field);
    const char* name = c.field == kLocalPortField ? "Local Port" : "Remote Port";
    EXPECT_TRUE(StatusText().endsWith(QString(name) + ": enter a number from 0 to 65535"))
        << StatusText().toStdString();
    EXPECT_FALSE(window_->listener().IsRunning());
    EXPECT_EQ(window_->log_sinks().chain, nullptr);
    EXPECT_TRUE(titles_.titles.empty());

    Command(kSaveAsCommand);
    EXPECT_EQ(beeps_, 2);
    EXPECT_TRUE(choosers_.requests.empty()) << "no Save dialog";

    Command(kStopButton);
    EXPECT_EQ(titles_.titles, (Titles{kStopRequested, kStopped}));
  }
}

TEST_F(MainWindowTest, LocalHostThatIsNotAnAddressStopsStartAndSaveAs) {
  for (const char* text : {"localhost", "127.0.0.1:80", "[::1]:80", "1.2.3", " ::1", "*"}) {
    SCOPED_TRACE(text);
    Open(Forwarding(2007));
    titles_.titles.clear();
    choosers_.requests.clear();
    beeps_ = 0;
    SetField(kLocalHostField, text);
    Command(kStartButton);
    EXPECT_EQ(beeps_, 1);
    EXPECT_EQ(window_dialog().FocusedControl(), kLocalHostField);
    EXPECT_TRUE(StatusText().contains("Local Host: enter an IPv4 or IPv6 address"));
    EXPECT_FALSE(window_->listener().IsRunning());
    EXPECT_TRUE(titles_.titles.empty());
    Command(kSaveAsCommand);
    EXPECT_EQ(beeps_, 2);
    EXPECT_TRUE(choosers_.requests.empty()) << "no Save dialog";
  }
}

TEST_F(MainWindowTest, TitleNamesTheLocalHostWhenOneIsGiven) {
  struct Case {
    std::string local_host;
    std::string remote_host;
    std::string prefix;     // what comes before "LP: "
    std::string listening;  // the address the listener took
  };
  const Case kCases[] = {
      {"", "127.0.0.1", "", "0.0.0.0"},
      {"127.0.0.1", "127.0.0.1", "LH: 127.0.0.1, ", "127.0.0.1"},
      {"0.0.0.0", "[127.0.0.1]", "LH: 0.0.0.0, ", "0.0.0.0"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.local_host);
    Open(Forwarding(2007));
    SetField(kLocalHostField, c.local_host);
    SetField(kRemoteHostField, c.remote_host);
    ASSERT_TRUE(ClickStart());
    EXPECT_EQ(Title(), "[" + c.prefix + "LP: " + std::to_string(window_->listener().BoundPort()) +
                           ", RP: 2007, RH: " + c.remote_host + "] - Portwick");
    EXPECT_EQ(window_->listener().BoundEndpoint().AddressText(), c.listening);
    EXPECT_EQ(beeps_, 0);
  }
}

TEST_F(MainWindowTest, RelaysBetweenIPv6AddressesWithOrWithoutBrackets) {
  if (!testing::HasIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback address here";
  testing::TestServer server(testing::EchoHandler, 64, Endpoint::LoopbackIPv6(0));
  for (const char* host : {"::1", "[::1]"}) {
    SCOPED_TRACE(host);
    Open(Forwarding(server.port()));
    SetField(kLocalHostField, host);
    SetField(kRemoteHostField, host);
    ASSERT_TRUE(ClickStart());
    EXPECT_EQ(window_->listener().BoundEndpoint().AddressText(), "::1");
    // One pair of brackets around the destination, typed with them or not.
    EXPECT_TRUE(StatusText().contains(
        QString::fromStdString(" for [::1]:" + std::to_string(server.port()))))
        << StatusText().toStdString();
    Socket client = testing::ConnectTo(
        Endpoint::LoopbackIPv6(static_cast<uint16_t>(window_->listener().BoundPort())));
    ASSERT_TRUE(client.valid());
    ASSERT_EQ(testing::SendAndRead(client.fd(), client.fd(), "six!\n"), "six!\n");
    Command(kStopButton);
  }
}

TEST_F(MainWindowTest, CheckBoxesEnableTheirControlsAtTheNextIdleMoment) {
  Open(ProxySettings{});
  loop_.OnIdle(0);
  struct Step {
    int box;
    // After the click, at idle; the first control is the one the click
    // changes.
    std::vector<std::pair<int, bool>> enabled;
  };
  const Step kSteps[] = {
      {kWriteToFileBox, {{kFileNameField, true}, {kBrowseButton, true}, {kOutputPane, true}}},
      {kShowInOutputBox, {{kOutputPane, false}, {kFileNameField, true}}},
      {kWriteToFileBox, {{kFileNameField, false}, {kBrowseButton, false}, {kOutputPane, false}}},
      {kShowInOutputBox, {{kOutputPane, true}}},
  };
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.box);
    Click(step.box);
    const auto& [changed_id, changed_to] = step.enabled.front();
    EXPECT_NE(window_dialog().IsControlEnabled(changed_id), changed_to) << "not before idle";
    EXPECT_TRUE(window_->control_states().pending());
    for (const auto& [id, enabled] : step.enabled) EXPECT_EQ(EnabledAtIdle(id), enabled) << id;
  }
  // Log Synchronously has no command of its own.
  Click(kLogSynchronouslyBox);
  EXPECT_FALSE(window_->control_states().pending());
  EXPECT_TRUE(EnabledAtIdle(kClearButton));
  EXPECT_TRUE(EnabledAtIdle(kStartButton));
}

TEST_F(MainWindowTest, StartBuildsTheSinksTheCheckBoxesAskFor) {
  enum Kind { kNone, kSync, kQueued };
  struct Case {
    bool file, output, sync;
    Kind file_sink, window_sink;
  };
  const Case kCases[] = {
      {false, false, false, kNone, kNone}, {false, false, true, kNone, kNone},
      {true, false, true, kSync, kNone},   {true, false, false, kQueued, kNone},
      {false, true, true, kNone, kSync},   {false, true, false, kNone, kQueued},
      {true, true, true, kSync, kSync},    {true, true, false, kQueued, kQueued},
  };
  logtesting::TempDir dir;
  Open(Forwarding(2007));
  SetField(kFileNameField, dir.File("never-written.log"));
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.file) + std::to_string(c.output) + std::to_string(c.sync));
    window_dialog().SetCheck(kWriteToFileBox, c.file ? 1 : 0);
    window_dialog().SetCheck(kShowInOutputBox, c.output ? 1 : 0);
    window_dialog().SetCheck(kLogSynchronouslyBox, c.sync ? 1 : 0);
    ASSERT_TRUE(ClickStart());
    const LogSinks& sinks = window_->log_sinks();
    ASSERT_NE(sinks.chain, nullptr);
    std::vector<LogSink*> children;
    LogSinkBase* file = sinks.file_sink.get();
    LogSinkBase* pane = sinks.window_sink.get();
    if (file != nullptr) children.push_back(file);
    if (pane != nullptr) children.push_back(pane);
    EXPECT_EQ(sinks.chain->sinks(), children) << "file sink first";
    EXPECT_EQ(file != nullptr && dynamic_cast<FileLogSink*>(file) != nullptr, c.file_sink == kSync);
    EXPECT_EQ(file != nullptr && dynamic_cast<QueuedFileLogSink*>(file) != nullptr,
              c.file_sink == kQueued);
    EXPECT_EQ(pane != nullptr && dynamic_cast<WindowLogSink*>(pane) != nullptr,
              c.window_sink == kSync);
    EXPECT_EQ(pane != nullptr && dynamic_cast<QueuedWindowLogSink*>(pane) != nullptr,
              c.window_sink == kQueued);
    if (auto* f = dynamic_cast<FileLogSink*>(file)) {
      EXPECT_EQ(f->file_name(), dir.File("never-written.log"));
    }
    if (auto* f = dynamic_cast<QueuedFileLogSink*>(file)) {
      EXPECT_EQ(f->file_name(), dir.File("never-written.log"));
    }

    Command(kStopButton);
    EXPECT_EQ(sinks.chain, nullptr);
    EXPECT_EQ(sinks.file_sink, nullptr);
    EXPECT_EQ(sinks.window_sink, nullptr);
    EXPECT_EQ(sinks.handle, nullptr);
  }
  EXPECT_FALSE(logtesting::FileExists(dir.File("never-written.log"))) << "no traffic, no file";
}

TEST_F(MainWindowTest, TrafficReachesThePaneAndTheLogFileAndStopResetsTheSession) {
  for (const bool synchronously : {false, true}) {
    SCOPED_TRACE(synchronously ? "synchronous sinks" : "queued sinks");
    logtesting::TempDir dir;
    const std::string log = dir.File("traffic.log");
    logtesting::WriteFile(log, "kept|");
    testing::TestServer server(testing::EchoHandler);
    ProxySettings settings = Forwarding(server.port());
    settings.log_file_name = log;
    settings.log_synchronously = synchronously;
    Open(settings);
    ASSERT_TRUE(ClickStart());
    Socket client = testing::ConnectLoopback(window_->listener().BoundPort());
    ASSERT_TRUE(client.valid());

    // The pane shows what it was handed in deliveries on this thread.
    ASSERT_TRUE(testing::SendBytes(client.fd(), "hello\n"));
    ServeEventsUntil([&] { return TextOf(window_dialog(), kOutputPane) == "hello\nhello\n"; },
                     15000);
    ASSERT_EQ(TextOf(window_dialog(), kOutputPane), "hello\nhello\n");
    EXPECT_EQ(testing::ReadExactly(client.fd(), 6).data, "hello\n");

    // Unticking Show in Output disables the pane; it goes on receiving the
    // traffic of this run.
    Click(kShowInOutputBox);
    EXPECT_FALSE(EnabledAtIdle(kOutputPane));
    ASSERT_TRUE(testing::SendBytes(client.fd(), "more"));
    ServeEventsUntil(
        [&] { return TextOf(window_dialog(), kOutputPane) == "hello\nhello\nmoremore"; }, 15000);
    ASSERT_EQ(TextOf(window_dialog(), kOutputPane), "hello\nhello\nmoremore");
    EXPECT_EQ(testing::ReadExactly(client.fd(), 4).data, "more");

    Command(kStopButton);
    EXPECT_EQ(testing::ReadUntilEnd(client.fd()).end, testing::StreamEnd::kReset);
    EXPECT_EQ(logtesting::ReadFile(log), "kept|hello\nhello\nmoremore");

    // The run's capture store holds the session, closed by the stop, with
    // its chunks in order.
    const std::shared_ptr<CaptureStore> capture = window_->capture_store();
    ASSERT_TRUE(capture);
    const std::optional<CapturedSession> session = capture->Session(1);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->state, CapturedState::kClosed);
    EXPECT_EQ(session->close_reason, CloseReason::kStopped);
    std::string conversation;
    for (const ChunkRef& chunk : capture->Chunks(1, 0, 100).chunks) {
      conversation += (chunk->direction() == Direction::kClientToServer ? ">" : "<");
      conversation += chunk->bytes();
    }
    EXPECT_EQ(conversation, ">hello\n<hello\n>more<more");
  }
}

TEST_F(MainWindowTest, CaptureLimitFromTheCommandLine) {
  testing::TestServer server(testing::EchoHandler);
  ProxySettings settings = Forwarding(server.port());
  settings.capture_limit = 0;
  Open(settings);
  ASSERT_TRUE(ClickStart());
  EXPECT_FALSE(window_->capture_store());
  Command(kStopButton);

  settings.capture_limit = 1 << 20;
  Open(settings);
  Command(kStartButton);
  ASSERT_TRUE(window_->capture_store());
  EXPECT_EQ(window_->capture_store()->Counts().capture_limit, uint64_t{1} << 20);
  Command(kStopButton);
}

TEST_F(MainWindowTest, CloseDuringAReleaseClosesWithoutLosingTheQuit) {
  Open(Forwarding(2007));  // a queued pane sink: its release serves events
  ASSERT_TRUE(ClickStart());
  bool closed_during_release = false;
  const int exit_code = RunWith([&] {
    QMetaObject::invokeMethod(
        &dialog(),
        [&] {
          closed_during_release = window_->releasing();
          Command(kCommandCancel);
        },
        Qt::QueuedConnection);
    Command(kStopButton);
  });
  EXPECT_TRUE(closed_during_release);
  EXPECT_EQ(exit_code, 2);
  EXPECT_TRUE(dialog().window_destroyed());
  EXPECT_FALSE(window_->listener().IsRunning());
  EXPECT_EQ(window_->log_sinks().chain, nullptr);
  EXPECT_EQ(titles_.titles.back(), kStopped);
}

TEST_F(MainWindowTest, StartAndStopThatArriveDuringAReleaseRunAfterIt) {
  Open(Forwarding(2007));
  ASSERT_TRUE(ClickStart());
  titles_.titles.clear();
  // Action > Start while Stop releases the sinks: it runs once Stop is done.
  bool waited = false;
  QMetaObject::invokeMethod(
      &dialog(),
      [&] {
        Command(kStartCommand);
        waited = window_->releasing() && !window_->listener().IsRunning();
      },
      Qt::QueuedConnection);
  Command(kStopButton);
  EXPECT_TRUE(waited);
  ASSERT_TRUE(window_->listener().IsRunning());
  EXPECT_EQ(titles_.titles, (Titles{kStopRequested, kStopped,
                                    Running(window_->listener().BoundPort(), 2007, "127.0.0.1")}));

  // Action > Stop while a Start releases the sinks of a Start that could not
  // listen: Start finishes first.
  Command(kStopButton);
  testing::TestServer occupant;
  SetField(kLocalPortField, std::to_string(occupant.port()));
  Command(kStartButton);
  ASSERT_FALSE(window_->listener().IsRunning());
  SetField(kLocalPortField, "0");
  titles_.titles.clear();
  QMetaObject::invokeMethod(
      &dialog(), [&] { Command(kStopCommand); }, Qt::QueuedConnection);
  Command(kStartButton);
  ASSERT_EQ(titles_.titles.size(), 3u);
  EXPECT_TRUE(titles_.titles[0].startsWith("[LP: "));
  EXPECT_EQ(titles_.titles[1], kStopRequested);
  EXPECT_EQ(titles_.titles[2], kStopped);
  EXPECT_FALSE(window_->listener().IsRunning());
  EXPECT_TRUE(EnabledAtIdle(kStartButton));
}

}  // namespace
}  // namespace portwick

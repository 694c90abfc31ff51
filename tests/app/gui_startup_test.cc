#include "app/gui_startup.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/display_check.h"
#include "fake_display.h"
#include "ui/framework/loop_registry.h"
#include "ui/framework/message_loop.h"

namespace portwick {
namespace {

struct WindowLog {
  std::vector<std::string> events;
  std::optional<ProxySettings> settings;
  bool loop_registered_at_create = false;
  bool shown_when_loop_ran = false;
  bool loop_registered_at_destroy = true;
};

// Stands in for the main window: creates a widget, and once the loop runs
// posts `quit_code` as a closing command would.
class FakeWindow : public GuiWindow {
 public:
  FakeWindow(const ProxySettings& settings, WindowLog* log, bool create_ok, int quit_code)
      : log_(log), create_ok_(create_ok), quit_code_(quit_code) {
    log_->settings = settings;
    log_->events.push_back("construct");
  }
  ~FakeWindow() override {
    log_->events.push_back("destroy");
    log_->loop_registered_at_destroy = CurrentThreadLoop() != nullptr;
  }

  bool Create() override {
    log_->events.push_back("create");
    log_->loop_registered_at_create = CurrentThreadLoop() != nullptr;
    if (!create_ok_) return false;
    widget_ = std::make_unique<QWidget>();
    return true;
  }

  void Show() override {
    log_->events.push_back("show");
    widget_->show();
    QTimer::singleShot(0, widget_.get(), [this]() {
      log_->shown_when_loop_ran = widget_->isVisible();
      log_->events.push_back("quit");
      CurrentThreadLoop()->PostQuit(quit_code_);
    });
  }

 private:
  WindowLog* log_;
  bool create_ok_;
  int quit_code_;
  std::unique_ptr<QWidget> widget_;
};

class GuiStartupTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args, bool display = true, bool create_ok = true,
          int quit_code = 57665) {
    args.insert(args.begin(), program_);
    GuiStartup startup;
    startup.make_window = [this, create_ok, quit_code](const ProxySettings& settings) {
      return std::make_unique<FakeWindow>(settings, &log_, create_ok, quit_code);
    };
    startup.show_help_box = [this](const std::string& text) { boxes_.push_back(text); };
    startup.display_available = [display]() { return display; };
    startup.out = &out_;
    startup.err = &err_;
    return RunGui(args, startup);
  }

  std::string program_ = "/usr/bin/portwick";  // argv[0]
  WindowLog log_;
  std::vector<std::string> boxes_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(GuiStartupTest, RunsTheWindowAndReturnsTheClosingCommand) {
  for (int code : {1, 2, 57665}) {
    log_ = WindowLog{};
    EXPECT_EQ(Run({"--source=1234", "--destination=example.org:80"}, true, true, code), code);
    EXPECT_EQ(log_.events,
              (std::vector<std::string>{"construct", "create", "show", "quit", "destroy"}));
    ASSERT_TRUE(log_.settings.has_value());
    EXPECT_EQ(log_.settings->local_port, 1234);
    EXPECT_EQ(log_.settings->remote_host, "example.org");
    EXPECT_EQ(log_.settings->remote_port, 80);
    EXPECT_TRUE(log_.loop_registered_at_create);
    EXPECT_TRUE(log_.shown_when_loop_ran);
    EXPECT_FALSE(log_.loop_registered_at_destroy);  // removed before destroying
  }
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(CurrentThreadLoop(), nullptr);
}

TEST_F(GuiStartupTest, BadCommandLineShowsTheHelpOnceNamingTheArgumentAndNoWindow) {
  program_ = "/opt/pw/bin/portwick-dev";
  EXPECT_EQ(Run({"--source=1", "--nonsense=1"}), 0);
  const std::string help = HelpTextWithLineFeeds("portwick-dev");
  EXPECT_NE(help.find("\tportwick-dev options [COMMAND]\n"), std::string::npos) << help;
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], "The command line has an unknown option '--nonsense=1'.\n\n" + help);
  EXPECT_EQ(out_.str(), help);
  EXPECT_EQ(err_.str(), "Portwick: unknown option '--nonsense=1'\n");
  EXPECT_TRUE(log_.events.empty());
  EXPECT_EQ(CurrentThreadLoop(), nullptr);
}

TEST_F(GuiStartupTest, HelpCommandShowsTheHelpAndGoesOn) {
  EXPECT_EQ(Run({"help"}, true, true, 1), 1);
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(out_.str(), HelpTextWithLineFeeds());
  EXPECT_EQ(log_.events.size(), 5u);
}

TEST_F(GuiStartupTest, WithoutADisplayPointsToConsoleMode) {
  EXPECT_EQ(Run({"--source=1234"}, false), kExitNoDisplay);
  EXPECT_TRUE(log_.events.empty());
  EXPECT_TRUE(boxes_.empty());
  EXPECT_NE(err_.str().find("no display"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("--console"), std::string::npos) << err_.str();

  // A bad command line still prints the help and ends with 0, box or not.
  err_.str("");
  EXPECT_EQ(Run({"--nonsense=1"}, false), 0);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(out_.str(), HelpTextWithLineFeeds());
  EXPECT_EQ(err_.str(), "Portwick: unknown option '--nonsense=1'\n");
}

TEST(HelpBoxTest, TabsBecomeSpacesToTheNextStopInAFixedFontUnwrapped) {
  EXPECT_EQ(HelpBoxMarkup("\tportwick a<b\n ab\tc\n"),
            "<pre>        portwick a&lt;b\n ab     c\n</pre>");
}

TEST_F(GuiStartupTest, FailedWindowCreationEndsWithZero) {
  EXPECT_EQ(Run({}, true, false), 0);
  EXPECT_EQ(log_.events, (std::vector<std::string>{"construct", "create", "destroy"}));
  EXPECT_EQ(CurrentThreadLoop(), nullptr);
}

// Sets the display variables for its scope and puts back what was there.
class DisplayEnvironment {
 public:
  static constexpr const char* kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

  DisplayEnvironment(const std::string& x, const std::string& wayland,
                     const std::string& platform) {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    }
    const std::string values[] = {x, wayland, platform};
    for (size_t i = 0; i < 3; ++i) {
      if (values[i] == kUnset) {
        unsetenv(kNames[i]);
      } else {
        setenv(kNames[i], values[i].c_str(), 1);
      }
    }
  }
  ~DisplayEnvironment() {
    for (size_t i = 0; i < saved_.size(); ++i) {
      if (saved_[i]) {
        setenv(kNames[i], saved_[i]->c_str(), 1);
      } else {
        unsetenv(kNames[i]);
      }
    }
  }

  static inline const std::string kUnset = "(unset)";

 private:
  std::vector<std::optional<std::string>> saved_;
};

// A display counts only when something accepts a connection there: a set
// but stale DISPLAY made Qt abort the whole program.
TEST(DisplayAvailableTest, ADisplayCountsOnlyWhenItsServerCanBeReached) {
  using testing::FakeDisplay;
  using Kind = FakeDisplay::Kind;
  const FakeDisplay local_x(Kind::kLocalX, true);
  const FakeDisplay gone_x(Kind::kLocalX, false);
  const FakeDisplay tcp_x(Kind::kTcpX, true);
  const FakeDisplay gone_tcp_x(Kind::kTcpX, false);
  const FakeDisplay wayland(Kind::kWayland, true);
  const FakeDisplay gone_wayland(Kind::kWayland, false);
  for (const FakeDisplay* display :
       {&local_x, &gone_x, &tcp_x, &gone_tcp_x, &wayland, &gone_wayland}) {
    ASSERT_FALSE(display->name().empty());
  }
  const std::string unset = DisplayEnvironment::kUnset;
  struct Case {
    std::string x, wayland, platform;
    bool available;
    std::string reason_part;  // when not available
  };
  const Case kCases[] = {
      {unset, unset, unset, false, "unset or empty"},
      {"", "", "", false, "unset or empty"},
      {local_x.name(), unset, unset, true, ""},
      {tcp_x.name(), unset, unset, true, ""},
      {gone_x.name(), unset, unset, false, "DISPLAY=" + gone_x.name() + " can't be reached"},
      {gone_tcp_x.name(), unset, unset, false, "can't be reached"},
      {"nonsense", unset, unset, false, "DISPLAY=nonsense can't be reached"},
      {unset, wayland.name(), unset, true, ""},
      {unset, gone_wayland.name(), unset, false, "WAYLAND_DISPLAY="},
      // Either reachable display is enough without a platform of its own.
      {gone_x.name(), wayland.name(), unset, true, ""},
      {local_x.name(), gone_wayland.name(), unset, true, ""},
      // A platform that names a display kind needs that display.
      {local_x.name(), unset, "xcb", true, ""},
      {gone_x.name(), wayland.name(), "xcb", false, "DISPLAY="},
      {unset, unset, "xcb", false, "DISPLAY is unset"},
      {local_x.name(), gone_wayland.name(), "wayland", false, "WAYLAND_DISPLAY="},
      // Other platforms need no display.
      {unset, unset, "offscreen", true, ""},
      {gone_x.name(), unset, "minimal", true, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE("DISPLAY=" + c.x + " WAYLAND_DISPLAY=" + c.wayland +
                 " QT_QPA_PLATFORM=" + c.platform);
    const DisplayEnvironment environment(c.x, c.wayland, c.platform);
    const std::string problem = DisplayProblem();
    EXPECT_EQ(DisplayAvailable(), c.available) << problem;
    EXPECT_EQ(problem.empty(), c.available);
    EXPECT_NE(problem.find(c.reason_part), std::string::npos) << problem;
  }
}

}  // namespace
}  // namespace portwick

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
#include "app/loop_registry.h"
#include "app/message_loop.h"

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
    args.insert(args.begin(), "/usr/bin/portwick");
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

TEST_F(GuiStartupTest, BadCommandLineShowsTheHelpOnceAndNoWindow) {
  EXPECT_EQ(Run({"--nonsense=1"}), 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], HelpTextWithLineFeeds());
  EXPECT_EQ(out_.str(), HelpTextWithLineFeeds());
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
  EXPECT_EQ(err_.str(), "");
}

TEST_F(GuiStartupTest, FailedWindowCreationEndsWithZero) {
  EXPECT_EQ(Run({}, true, false), 0);
  EXPECT_EQ(log_.events, (std::vector<std::string>{"construct", "create", "destroy"}));
  EXPECT_EQ(CurrentThreadLoop(), nullptr);
}

TEST(DisplayAvailableTest, LooksAtTheThreeVariables) {
  const char* kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  std::vector<std::optional<std::string>> saved;
  for (const char* name : kNames) {
    const char* value = std::getenv(name);
    saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    unsetenv(name);
  }
  EXPECT_FALSE(DisplayAvailable());
  setenv("DISPLAY", "", 1);
  EXPECT_FALSE(DisplayAvailable());  // empty counts as unset
  for (const char* name : kNames) {
    setenv(name, "x", 1);
    EXPECT_TRUE(DisplayAvailable()) << name;
    unsetenv(name);
  }
  for (size_t i = 0; i < saved.size(); ++i) {
    if (saved[i]) setenv(kNames[i], saved[i]->c_str(), 1);
  }
}

}  // namespace
}  // namespace portwick

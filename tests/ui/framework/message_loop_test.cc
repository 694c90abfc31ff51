#include "ui/framework/message_loop.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "ui/framework/qt/native_message.h"

namespace portwick {
namespace {

constexpr int kGuardMs = 10000;

class RecordingIdle : public IdleHandler {
 public:
  RecordingIdle(std::string name, std::vector<std::string>* log)
      : name_(std::move(name)), log_(log) {}
  bool OnIdle() override {
    log_->push_back(name_);
    if (then) then();
    return true;  // the loop ignores it
  }
  std::function<void()> then;

 private:
  std::string name_;
  std::vector<std::string>* log_;
};

class RecordingFilter : public MessageFilter {
 public:
  RecordingFilter(std::string name, std::vector<std::string>* log, bool consume)
      : name_(std::move(name)), log_(log), consume_(consume) {}
  bool PreTranslateMessage(const Message& message) override {
    log_->push_back(name_);
    if (then) then(message);
    return consume_;
  }
  std::function<void(const Message&)> then;

 private:
  std::string name_;
  std::vector<std::string>* log_;
  bool consume_;
};

// Ends Run() with a marker code if a test would otherwise hang.
class Guard {
 public:
  explicit Guard(MessageLoop* loop) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this, loop]() {
      fired_ = true;
      loop->PostQuit(-999);
    });
    timer_.start(kGuardMs);
  }
  bool fired() const { return fired_; }

 private:
  QTimer timer_;
  bool fired_ = false;
};

// A shown, active window with a line edit and a button.
class LoopWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto* layout = new QVBoxLayout(&window_);
    edit_ = new QLineEdit(&window_);
    button_ = new QPushButton("Button", &window_);
    layout->addWidget(edit_);
    layout->addWidget(button_);
    window_.resize(300, 120);
    window_.show();
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    edit_->setFocus();
    QCoreApplication::processEvents();
  }

  QWidget window_;
  QLineEdit* edit_ = nullptr;
  QPushButton* button_ = nullptr;
  MessageLoop loop_;
  std::vector<std::string> log_;
};

TEST_F(LoopWindowTest, IdleRunsOnceAfterKeyOrClickNotAfterMovesPaintsOrTimers) {
  struct Step {
    const char* name;
    std::function<void()> action;
    bool restarts_idle;
  };
  const QPoint button_centre = button_->rect().center();
  const std::vector<Step> steps = {
      {"move",
       [&]() {
         QTest::mouseMove(button_, button_centre);
         QTest::mouseMove(edit_, edit_->rect().center());
         QTest::mouseMove(button_, button_centre + QPoint(1, 1));
       },
       false},
      {"paint",
       [&]() {
         window_.repaint();
         edit_->update();
         button_->update();
       },
       false},
      {"timer", []() {}, false},  // the timer that runs each step is one
      {"key", [&]() { QTest::keyClick(edit_, Qt::Key_A); }, true},
      {"click", [&]() { QTest::mouseClick(button_, Qt::LeftButton); }, true},
      {"move again", [&]() { QTest::mouseMove(edit_, edit_->rect().center()); }, false},
  };
  size_t next = 0;
  bool waiting_for_idle = true;  // Run() idles once at its start
  std::function<void()> run_next = [&]() {
    if (next == steps.size()) {
      loop_.PostQuit(7);
      return;
    }
    const Step& step = steps[next++];
    log_.push_back(step.name);
    step.action();
    if (step.restarts_idle) {
      waiting_for_idle = true;
    } else {
      // Let the queue run empty before the next step.
      QTimer::singleShot(40, run_next);
    }
  };
  RecordingIdle idle("idle", &log_);
  idle.then = [&]() {
    if (!waiting_for_idle) return;
    waiting_for_idle = false;
    QTimer::singleShot(0, run_next);
  };
  ASSERT_TRUE(loop_.AddIdleHandler(&idle));
  Guard guard(&loop_);

  EXPECT_EQ(loop_.Run(), 7);
  EXPECT_FALSE(guard.fired());
  EXPECT_EQ(log_, (std::vector<std::string>{"idle", "move", "paint", "timer", "key", "idle",
                                            "click", "idle", "move again"}));
  EXPECT_EQ(edit_->text(), "a");
}

TEST_F(LoopWindowTest, FiltersSeeEventsFirstAndMayConsumeThem) {
  RecordingFilter passes("passes", &log_, false);
  std::vector<std::string> ignored;
  RecordingFilter eats_keys("eats", &ignored, false);
  bool saw_current = false;
  eats_keys.then = [&](const Message& message) {
    saw_current = saw_current || (loop_.current_message().native == message.native);
  };
  // A filter that consumes key presses aimed at the edit.
  class KeyEater : public MessageFilter {
   public:
    explicit KeyEater(QObject* target) : target_(target) {}
    bool PreTranslateMessage(const Message& message) override {
      if (message.native->receiver == target_ &&
          message.native->event->type() == QEvent::KeyPress) {
        ++eaten;
        return true;
      }
      return false;
    }
    int eaten = 0;

   private:
    QObject* target_;
  } eater(edit_);
  loop_.AddMessageFilter(&passes);
  loop_.AddMessageFilter(&eater);
  loop_.AddMessageFilter(&eats_keys);
  Guard guard(&loop_);

  QTimer::singleShot(0, [&]() {
    QTest::keyClicks(edit_, "xyz");
    loop_.PostQuit(0);
  });
  EXPECT_EQ(loop_.Run(), 0);
  EXPECT_FALSE(guard.fired());
  EXPECT_EQ(eater.eaten, 3);
  EXPECT_EQ(edit_->text(), "");
  EXPECT_TRUE(saw_current);
  EXPECT_EQ(loop_.current_message().native, nullptr);
  // Consumed presses never reached the filter added before the eater; the
  // releases did.
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "passes"), static_cast<long>(ignored.size()) - 3);
}

TEST_F(LoopWindowTest, ModalLoopsRunWithoutFiltersAndIdleHandlers) {
  RecordingFilter filter("filter", &log_, false);
  std::vector<std::string> idle_log;
  RecordingIdle idle("idle", &idle_log);
  loop_.AddMessageFilter(&filter);
  loop_.AddIdleHandler(&idle);
  Guard guard(&loop_);

  size_t filtered_before_modal = 0;
  size_t idles_before_modal = 0;
  QTimer::singleShot(0, [&]() {
    QDialog modal(&window_);
    auto* modal_edit = new QLineEdit(&modal);
    QTimer::singleShot(0, &modal, [&]() {
      filtered_before_modal = log_.size();
      idles_before_modal = idle_log.size();
      QTest::keyClicks(modal_edit, "abc");
      QTimer::singleShot(40, &modal, &QDialog::accept);
    });
    modal.exec();
    EXPECT_EQ(modal_edit->text(), "abc");
    EXPECT_EQ(log_.size(), filtered_before_modal);
    EXPECT_EQ(idle_log.size(), idles_before_modal);
    loop_.PostQuit(3);
  });
  EXPECT_EQ(loop_.Run(), 3);
  EXPECT_FALSE(guard.fired());
}

TEST(MessageLoopListsTest, FiltersRunFromLastToFirstUntilOneConsumes) {
  MessageLoop loop;
  std::vector<std::string> log;
  RecordingFilter a("a", &log, true);
  RecordingFilter b("b", &log, false);
  RecordingFilter c("c", &log, false);
  EXPECT_FALSE(loop.AddMessageFilter(nullptr));
  loop.AddMessageFilter(&a);
  loop.AddMessageFilter(&b);
  loop.AddMessageFilter(&c);
  QEvent event(QEvent::User);
  const NativeMessage native{nullptr, &event};
  const Message message = MessageFrom(native);

  EXPECT_TRUE(loop.PreTranslateMessage(message));
  EXPECT_EQ(log, (std::vector<std::string>{"c", "b", "a"}));

  RecordingFilter consumer("consumer", &log, true);
  loop.AddMessageFilter(&consumer);
  log.clear();
  EXPECT_TRUE(loop.PreTranslateMessage(message));
  EXPECT_EQ(log, std::vector<std::string>{"consumer"});

  EXPECT_TRUE(loop.RemoveMessageFilter(&consumer));
  EXPECT_FALSE(loop.RemoveMessageFilter(&consumer));
  EXPECT_TRUE(loop.RemoveMessageFilter(&a));
  log.clear();
  EXPECT_FALSE(loop.PreTranslateMessage(message));
  EXPECT_EQ(log, (std::vector<std::string>{"c", "b"}));

  // A filter that removes itself and another one while being asked.
  c.then = [&](const Message&) {
    loop.RemoveMessageFilter(&c);
    loop.RemoveMessageFilter(&b);
  };
  log.clear();
  EXPECT_FALSE(loop.PreTranslateMessage(message));
  EXPECT_EQ(log, std::vector<std::string>{"c"});
  log.clear();
  EXPECT_FALSE(loop.PreTranslateMessage(message));
  EXPECT_TRUE(log.empty());
}

TEST(MessageLoopListsTest, IdleHandlersRunFromFirstToLast) {
  MessageLoop loop;
  std::vector<std::string> log;
  RecordingIdle a("a", &log);
  RecordingIdle b("b", &log);
  RecordingIdle c("c", &log);
  EXPECT_FALSE(loop.AddIdleHandler(nullptr));
  loop.AddIdleHandler(&a);
  loop.AddIdleHandler(&b);
  loop.AddIdleHandler(&c);
  EXPECT_FALSE(loop.OnIdle(0));  // whatever the handlers say
  EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "c"}));

  a.then = [&]() { loop.RemoveIdleHandler(&b); };
  log.clear();
  loop.OnIdle(1);
  EXPECT_EQ(log, (std::vector<std::string>{"a", "c"}));
  EXPECT_FALSE(loop.RemoveIdleHandler(&b));
}

TEST(MessageLoopQuitTest, QuitPostedBeforeRunEndsItAtOnce) {
  MessageLoop loop;
  loop.PostQuit(57665);
  loop.PostQuit(1);  // the first request stands
  EXPECT_TRUE(loop.quit_requested());
  EXPECT_EQ(loop.Run(), 57665);
  EXPECT_FALSE(loop.quit_requested());

  // The next Run() waits for a quit of its own.
  Guard guard(&loop);
  QTimer::singleShot(0, [&]() { loop.PostQuit(2); });
  EXPECT_EQ(loop.Run(), 2);
  EXPECT_FALSE(guard.fired());
}

TEST(MessageLoopQuitTest, QuitSurvivesANestedProcessEventsWait) {
  MessageLoop loop;
  Guard guard(&loop);
  bool wait_done = false;
  QTimer::singleShot(0, [&]() {
    // A release loop: wait for a condition while serving events; the quit
    // arrives from an event handled inside the wait.
    bool released = false;
    QTimer::singleShot(10, [&]() {
      loop.PostQuit(1);
      QTimer::singleShot(10, [&]() { released = true; });
    });
    QElapsedTimer clock;
    clock.start();
    while (!released && clock.elapsed() < kGuardMs) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    wait_done = released;
  });
  EXPECT_EQ(loop.Run(), 1);
  EXPECT_TRUE(wait_done);
  EXPECT_FALSE(guard.fired());
}

TEST(MessageLoopQuitTest, QuitSurvivesAModalDialog) {
  MessageLoop loop;
  Guard guard(&loop);
  bool modal_ended = false;
  QTimer::singleShot(0, [&]() {
    QDialog modal;
    QTimer::singleShot(0, &modal, [&]() {
      loop.PostQuit(2);
      QTimer::singleShot(20, &modal, &QDialog::accept);
    });
    modal.exec();
    modal_ended = true;
  });
  EXPECT_EQ(loop.Run(), 2);
  EXPECT_TRUE(modal_ended);
  EXPECT_FALSE(guard.fired());
}

}  // namespace
}  // namespace portwick

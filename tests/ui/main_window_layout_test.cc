// The main window as built from its template: controls, menu, first size and
// place, and how the controls follow the window when it is resized.
#include <gtest/gtest.h>

#include <QtGui/QAction>
#include <QtGui/QScreen>
#include <QtTest/QTest>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSizeGrip>
#include <map>
#include <vector>

#include "ui/framework/qt/centering.h"
#include "ui/framework/qt/dialog_resizer.h"
#include "ui/framework/qt/dialog_units.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/main_window.h"
#include "ui/main_window_template.h"

namespace portwick {
namespace {

enum class Kind { kLabel, kEdit, kPane, kCheck, kButton, kGroup };

struct ExpectedControl {
  int id;  // -1 for labels, found by their text
  Kind kind;
  const char* text;
  int x, y, w, h;
  bool hidden;
};

// Dialog 129 as the window must show it, in tab order.
const ExpectedControl kExpected[] = {
    {-1, Kind::kLabel, "&Local Port:", 21, 23, 42, 8, false},
    {1000, Kind::kEdit, "", 75, 21, 51, 12, false},
    {-1, Kind::kLabel, "Local Host:", 139, 23, 48, 8, false},
    {1010, Kind::kEdit, "", 195, 20, 215, 12, false},
    {-1, Kind::kLabel, "&Remote Port:", 21, 44, 42, 8, false},
    {1001, Kind::kEdit, "", 75, 42, 51, 12, false},
    {-1, Kind::kLabel, "Remote Hos&t:", 139, 44, 48, 8, false},
    {1002, Kind::kEdit, "", 195, 42, 215, 12, false},
    {1006, Kind::kCheck, "Write to File", 21, 84, 53, 10, false},
    {1007, Kind::kCheck, "Show in Output", 21, 99, 65, 10, false},
    {-1, Kind::kLabel, "File &Name:", 139, 84, 48, 8, false},
    {1004, Kind::kEdit, "", 195, 84, 163, 12, false},
    {1009, Kind::kButton, "&Browse", 361, 83, 50, 14, false},
    {-1, Kind::kLabel, "&Output:", 7, 129, 84, 8, false},
    {1003, Kind::kPane, "", 7, 143, 494, 147, false},
    {1, Kind::kButton, "Close", 451, 7, 50, 14, false},
    {57664, Kind::kButton, "About...", 451, 23, 50, 14, false},
    {1005, Kind::kButton, "Start", 451, 67, 50, 14, false},
    {1008, Kind::kButton, "Stop", 451, 83, 50, 14, false},
    {1011, Kind::kGroup, "Connection Info", 7, 7, 424, 57, false},
    {1012, Kind::kGroup, "Show Info", 7, 67, 424, 59, false},
    {1013, Kind::kCheck, "Log Synchronously", 21, 112, 76, 10, false},
    {1014, Kind::kButton, "Select &All", 451, 106, 50, 14, true},
    {1015, Kind::kButton, "&Clear", 451, 122, 50, 14, false},
};

QString TextOf(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
  if (auto* group = qobject_cast<QGroupBox*>(w)) return group->title();
  return QString();
}

bool IsKind(QWidget* w, Kind kind) {
  switch (kind) {
    case Kind::kLabel:
      return qobject_cast<QLabel*>(w) != nullptr;
    case Kind::kEdit:
      return qobject_cast<QLineEdit*>(w) != nullptr;
    case Kind::kPane:
      return qobject_cast<QPlainTextEdit*>(w) != nullptr;
    case Kind::kCheck:
      return qobject_cast<QCheckBox*>(w) != nullptr;
    case Kind::kButton:
      return qobject_cast<QPushButton*>(w) != nullptr;
    case Kind::kGroup:
      return qobject_cast<QGroupBox*>(w) != nullptr;
  }
  return false;
}

class MainWindowLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window_.Create());
    dialog_ = QtDialogOf(window_.dialog());
    first_size_ = dialog_->size();
    for (const ExpectedControl& c : kExpected) first_[Find(c)] = Find(c)->geometry();
  }

  QWidget* Find(const ExpectedControl& c) const {
    if (c.id != -1) return dialog_->Control(c.id);
    for (QLabel* label : dialog_->client()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
      if (label->text() == QLatin1String(c.text)) return label;
    return nullptr;
  }
  QRect Geometry(int id) const { return dialog_->Control(id)->geometry(); }
  QRect First(int id) const { return first_.at(dialog_->Control(id)); }

  void ShowAndResize(int dx, int dy) {
    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_));
    dialog_->resize(first_size_.width() + dx, first_size_.height() + dy);
  }

  MainWindow window_{ProxySettings{}};
  TemplateDialog* dialog_ = nullptr;
  QSize first_size_;
  std::map<QWidget*, QRect> first_;
};

TEST_F(MainWindowLayoutTest, EveryControlHasItsTemplatePlaceTextAndKind) {
  const DialogBaseUnits& units = dialog_->base_units();
  ASSERT_GT(units.cx, 0);
  ASSERT_GT(units.cy, 0);
  for (const ExpectedControl& c : kExpected) {
    SCOPED_TRACE(c.text);
    SCOPED_TRACE(c.id);
    QWidget* w = Find(c);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(IsKind(w, c.kind));
    EXPECT_EQ(w->parentWidget(), dialog_->client());
    EXPECT_EQ(w->geometry(), DialogUnitsToPixels(c.x, c.y, c.w, c.h, units));
    EXPECT_EQ(TextOf(w), QString::fromLatin1(c.text));
    EXPECT_EQ(w->isHidden(), c.hidden);
  }
  EXPECT_EQ(dialog_->client()->size(),
            QSize(DialogUnitsToPixelsX(508, units), DialogUnitsToPixelsY(299, units)));
}

TEST_F(MainWindowLayoutTest, TabOrderFollowsTheTemplate) {
  std::vector<QWidget*> expected;
  for (const ExpectedControl& c : kExpected) {
    if (c.kind != Kind::kLabel && c.kind != Kind::kGroup) expected.push_back(Find(c));
  }
  // Walk the focus chain from the first control and keep the controls of the
  // client area that take focus with Tab.
  std::vector<QWidget*> seen;
  QWidget* w = expected.front();
  do {
    if (w->parentWidget() == dialog_->client() && (w->focusPolicy() & Qt::TabFocus)) {
      seen.push_back(w);
    }
    w = w->nextInFocusChain();
  } while (w != expected.front() && seen.size() <= expected.size());
  EXPECT_EQ(seen, expected);
}

TEST_F(MainWindowLayoutTest, CaptionIconDefaultButtonAndMinimumSize) {
  EXPECT_EQ(dialog_->windowTitle(), "Portwick");
  EXPECT_EQ(QString::fromLatin1(kApplicationTitle), "Portwick");
  const QIcon icon = dialog_->windowIcon();
  ASSERT_FALSE(icon.isNull());
  EXPECT_EQ(icon.availableSizes(), (QList<QSize>{QSize(16, 16), QSize(32, 32)}));
  for (const ExpectedControl& c : kExpected) {
    if (auto* button = qobject_cast<QPushButton*>(Find(c))) {
      EXPECT_EQ(button->isDefault(), c.id == kStartButton) << c.text;
    }
  }
  EXPECT_EQ(dialog_->minimumSize(), first_size_);
  EXPECT_TRUE(dialog_->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(dialog_->windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST_F(MainWindowLayoutTest, CentredOnTheScreenBeforeFirstShow) {
  const QRect area = dialog_->screen()->availableGeometry();
  EXPECT_EQ(dialog_->pos(), CenteredPosition(area, dialog_->frameGeometry().size()));
  EXPECT_FALSE(dialog_->isVisible());
}

TEST_F(MainWindowLayoutTest, MenuBarHoldsItsItemsAndCommands) {
  struct Item {
    QString menu, text;
    int id;  // 0 for a separator
    QString shortcut;
  };
  // Action and Help as they always were, without accelerators, and Action
  // with the traffic conditions; View holds the Sessions window.
  const std::vector<Item> expected = {
      {"Action", "Start", 32772, ""},
      {"Action", "Stop", 32773, ""},
      {"Action", "&Conditions...", kConditionsCommand, ""},
      {"Action", "", 0, ""},
      {"Action", "Save &As *.sh", 32775, ""},
      {"Action", "", 0, ""},
      {"Action", "E&xit", 57665, ""},
      {"View", "&Sessions", kSessionsCommand, "Ctrl+L"},
      {"Help", "&Visit Home Page", 32776, ""},
      {"Help", "", 0, ""},
      {"Help", "&About... ", 57664, ""},
  };
  std::vector<Item> seen;
  ASSERT_NE(dialog_->menu_bar(), nullptr);
  for (QAction* top : dialog_->menu_bar()->actions()) {
    ASSERT_NE(top->menu(), nullptr);
    for (QAction* item : top->menu()->actions()) {
      seen.push_back({top->text(), item->isSeparator() ? QString() : item->text(),
                      item->isSeparator() ? 0 : item->data().toInt(), item->shortcut().toString()});
      EXPECT_TRUE(item->isEnabled());
      EXPECT_FALSE(item->isCheckable());
    }
  }
  ASSERT_EQ(seen.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(seen[i].menu, expected[i].menu) << i;
    EXPECT_EQ(seen[i].text, expected[i].text) << i;
    EXPECT_EQ(seen[i].id, expected[i].id) << i;
    EXPECT_EQ(seen[i].shortcut, expected[i].shortcut) << i;
  }
}

TEST_F(MainWindowLayoutTest, WideningMovesTheButtonColumnAndWidensTheFrames) {
  const QRect grip = dialog_->resizer()->grip()->geometry();
  for (int n : {1, 37, 200}) {
    SCOPED_TRACE(n);
    ShowAndResize(n, 0);
    for (int id : {1, 57664, 1005, 1008, 1014, 1015}) {
      EXPECT_EQ(Geometry(id), First(id).translated(n, 0)) << id;
    }
    for (int id : {1003, 1011, 1012}) {
      EXPECT_EQ(Geometry(id), First(id).adjusted(0, 0, n, 0)) << id;
    }
    EXPECT_EQ(dialog_->resizer()->grip()->geometry(), grip.translated(n, 0));
    // Inside a group the fields stretch with it and Browse keeps its width,
    // all within the frame's new right edge.
    EXPECT_EQ(Geometry(1009).size(), First(1009).size());
    EXPECT_GE(Geometry(1009).left(), First(1009).left());
    EXPECT_GE(Geometry(1002).width(), First(1002).width());
    EXPECT_LE(Geometry(1009).right(), Geometry(1012).right());
    EXPECT_LE(Geometry(1002).right(), Geometry(1011).right());
    // What is not in the table never moves.
    for (int id : {1000, 1001, 1006, 1007, 1013}) EXPECT_EQ(Geometry(id), First(id)) << id;
  }
}

TEST_F(MainWindowLayoutTest, GroupMembersFollowTheRoundedProportions) {
  const int n = 131;
  ShowAndResize(n, 0);
  // Group 2: Show Info, File Name, Browse; its bounds are the frame's own.
  const QRect frame = First(1012);
  const int left = frame.left(), width = frame.width();
  auto scaled = [&](int x) { return left + MulDiv(x - left, width + n, width); };
  const QRect name = First(1004), browse = First(1009);
  EXPECT_EQ(Geometry(1004).left(), scaled(name.left()));
  EXPECT_EQ(Geometry(1004).left() + Geometry(1004).width(), scaled(name.left() + name.width()));
  EXPECT_EQ(Geometry(1009).left(), scaled(browse.left()));
}

TEST_F(MainWindowLayoutTest, TallerOnlyLengthensThePane) {
  const QRect grip = dialog_->resizer()->grip()->geometry();
  ShowAndResize(0, 90);
  for (const ExpectedControl& c : kExpected) {
    QWidget* w = Find(c);
    if (c.id == kOutputPane) {
      EXPECT_EQ(w->geometry(), first_.at(w).adjusted(0, 0, 0, 90));
    } else {
      EXPECT_EQ(w->geometry(), first_.at(w)) << c.text;
    }
  }
  EXPECT_EQ(dialog_->resizer()->grip()->geometry(), grip.translated(0, 90));
}

TEST_F(MainWindowLayoutTest, BackToTheFirstSizeRestoresEveryControl) {
  const QRect grip = dialog_->resizer()->grip()->geometry();
  for (QSize step : {QSize(113, 7), QSize(1, 250), QSize(499, 33), QSize(3, 3)}) {
    ShowAndResize(step.width(), step.height());
  }
  ShowAndResize(0, 0);
  for (const auto& [widget, rect] : first_)
    EXPECT_EQ(widget->geometry(), rect) << TextOf(widget).toStdString();
  EXPECT_EQ(dialog_->resizer()->grip()->geometry(), grip);
}

TEST_F(MainWindowLayoutTest, CannotShrinkBelowTheFirstSize) {
  ShowAndResize(-120, -80);
  EXPECT_GE(dialog_->width(), first_size_.width());
  EXPECT_GE(dialog_->height(), first_size_.height());
  for (const auto& [widget, rect] : first_) EXPECT_EQ(widget->geometry(), rect);
  ShowAndResize(900, 700);  // and as large as one likes
  EXPECT_EQ(dialog_->size(), first_size_ + QSize(900, 700));
}

TEST_F(MainWindowLayoutTest, MaximisingHidesTheGripAndRestoringShowsIt) {
  dialog_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_));
  QSizeGrip* grip = dialog_->resizer()->grip();
  ASSERT_NE(grip, nullptr);
  EXPECT_TRUE(grip->isVisible());
  dialog_->showMaximized();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !grip->isVisible(); }, 2000));
  dialog_->showNormal();
  EXPECT_TRUE(QTest::qWaitFor([&] { return grip->isVisible(); }, 2000));
}

}  // namespace
}  // namespace portwick

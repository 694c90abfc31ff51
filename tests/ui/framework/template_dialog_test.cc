#include "ui/framework/qt/template_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>
#include <vector>

#include "test_dialogs.h"
#include "ui/framework/qt/dialog_units.h"

namespace portwick {
namespace {

using namespace portwick::testing;

TEST(DialogUnitsTest, ConvertsWithTruncatingDivisions) {
  const DialogBaseUnits units{7, 13};
  struct Case {
    int x, y, w, h;
    QRect expected;
  };
  const Case cases[] = {
      {0, 0, 0, 0, QRect(0, 0, 0, 0)},
      {4, 8, 4, 8, QRect(7, 13, 7, 13)},
      {21, 23, 42, 8, QRect(36, 37, 73, 13)},  // 36.75, 37.375, 73.5
      {3, 7, 1, 1, QRect(5, 11, 1, 1)},        // 5.25, 11.375, 1.75, 1.625
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DialogUnitsToPixels(c.x, c.y, c.w, c.h, units), c.expected)
        << c.x << "," << c.y << "," << c.w << "," << c.h;
  }
}

TEST(DialogUnitsTest, BaseUnitsFollowTheFont) {
  QFont font;
  font.setPointSize(10);
  const DialogBaseUnits small = BaseUnitsOf(font);
  font.setPointSize(20);
  const DialogBaseUnits large = BaseUnitsOf(font);
  EXPECT_GT(small.cx, 0);
  EXPECT_EQ(large.cy, QFontMetrics(font).height());
  EXPECT_GT(large.cx, small.cx);
  EXPECT_GT(large.cy, small.cy);
}

class TemplateDialogTest : public ::testing::Test {
 protected:
  QLabel* UnnamedLabel(const QString& text) const {
    for (QLabel* label : dialog_.client()->findChildren<QLabel*>()) {
      if (label->text() == text) return label;
    }
    return nullptr;
  }

  void Record(std::initializer_list<int> ids) {
    for (int id : ids) dialog_.OnCommand(id, [this, id]() { commands_.push_back(id); });
  }

  void ShowActive() {
    dialog_.show();
    dialog_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));
  }

  TemplateDialog dialog_{SampleDialogTemplate()};
  std::vector<int> commands_;
};

TEST_F(TemplateDialogTest, PlacesControlsAtConvertedPixels) {
  const DialogBaseUnits units = dialog_.base_units();
  EXPECT_EQ(units.cy, QFontMetrics(dialog_.font()).height());
  for (const ControlTemplate& c : SampleDialogTemplate().controls) {
    if (c.id == kNoControlId) continue;
    EXPECT_EQ(dialog_.Control(c.id)->geometry(),
              DialogUnitsToPixels(c.x, c.y, c.width, c.height, units))
        << c.id;
  }
  ASSERT_NE(dialog_.menu_bar(), nullptr);
  EXPECT_EQ(dialog_.client()->y(), dialog_.menu_bar()->height());
  EXPECT_EQ(dialog_.client()->size(),
            QSize(DialogUnitsToPixelsX(SampleDialogTemplate().width, units),
                  DialogUnitsToPixelsY(SampleDialogTemplate().height, units)));
  EXPECT_EQ(dialog_.windowTitle(), "Sample");
}

TEST_F(TemplateDialogTest, BuildsEachKindWithItsStyle) {
  EXPECT_NE(dialog_.Edit(kNameEdit), nullptr);
  EXPECT_EQ(dialog_.CheckBox(kNameEdit), nullptr);  // wrong kind
  EXPECT_EQ(dialog_.Control(4242), nullptr);
  EXPECT_EQ(dialog_.Label(kCaption)->text(), "Caption");
  EXPECT_TRUE(dialog_.Edit(kNameEdit)->hasFrame());

  QPlainTextEdit* pane = dialog_.OutputPane(kPane);
  ASSERT_NE(pane, nullptr);
  EXPECT_FALSE(pane->isReadOnly());
  EXPECT_EQ(pane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(pane->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

  EXPECT_TRUE(dialog_.Button(kGoButton)->isDefault());
  EXPECT_FALSE(dialog_.Button(kOtherButton)->isDefault());
  EXPECT_TRUE(dialog_.Button(kHiddenButton)->isHidden());

  QGroupBox* frame = dialog_.GroupBox(kFrame);
  EXPECT_EQ(frame->title(), "Frame");
  EXPECT_TRUE(frame->testAttribute(Qt::WA_TransparentForMouseEvents));
  EXPECT_EQ(frame->focusPolicy(), Qt::NoFocus);
  // Stacked below the controls it surrounds, so clicks reach them.
  EXPECT_EQ(dialog_.client()->childAt(dialog_.Edit(kNameEdit)->geometry().center()),
            dialog_.Edit(kNameEdit));

  // A label's mnemonic focuses the next control.
  QLabel* name_label = UnnamedLabel("&Name:");
  ASSERT_NE(name_label, nullptr);
  EXPECT_EQ(name_label->buddy(), dialog_.Edit(kNameEdit));
}

TEST_F(TemplateDialogTest, ButtonsCheckBoxesAndMenuItemsRouteTheirIds) {
  Record({kGoButton, kOtherButton, kOptionBox, kMenuGo, kMenuQuit});
  ShowActive();
  QTest::mouseClick(dialog_.Button(kOtherButton), Qt::LeftButton);
  QTest::mouseClick(dialog_.CheckBox(kOptionBox), Qt::LeftButton);
  EXPECT_TRUE(dialog_.CheckBox(kOptionBox)->isChecked());  // toggles itself
  ASSERT_NE(dialog_.MenuAction(kMenuQuit), nullptr);
  EXPECT_EQ(dialog_.MenuAction(kMenuQuit)->text(), "&Quit");
  EXPECT_EQ(dialog_.MenuAction(4242), nullptr);
  dialog_.MenuAction(kMenuQuit)->trigger();
  dialog_.MenuAction(kMenuGo)->trigger();
  dialog_.SendCommand(kGoButton);
  EXPECT_EQ(commands_, (std::vector<int>{kOtherButton, kOptionBox, kMenuQuit, kMenuGo, kGoButton}));
  EXPECT_EQ(dialog_.menu_bar()->actions().at(0)->menu()->actions().size(), 3);
}

TEST_F(TemplateDialogTest, EnterPressesTheDefaultButtonExceptInThePane) {
  Record({kGoButton, kOtherButton});
  ShowActive();
  dialog_.Edit(kNumberEdit)->setFocus();
  QTest::keyClick(dialog_.Edit(kNumberEdit), Qt::Key_Return);
  EXPECT_EQ(commands_, std::vector<int>{kGoButton});

  QPlainTextEdit* pane = dialog_.OutputPane(kPane);
  pane->setFocus();
  QTest::keyClicks(pane, "a");
  QTest::keyClick(pane, Qt::Key_Return);
  QTest::keyClicks(pane, "b");
  EXPECT_EQ(pane->toPlainText(), "a\nb");
  EXPECT_EQ(commands_, std::vector<int>{kGoButton});

  // A disabled default button is not pressed.
  dialog_.Button(kGoButton)->setEnabled(false);
  dialog_.Edit(kNumberEdit)->setFocus();
  QTest::keyClick(dialog_.Edit(kNumberEdit), Qt::Key_Return);
  EXPECT_EQ(commands_, std::vector<int>{kGoButton});
}

TEST_F(TemplateDialogTest, EscapeAndCloseBoxBecomeCancel) {
  Record({kCommandCancel});
  ShowActive();
  dialog_.Edit(kNameEdit)->setFocus();
  QTest::keyClick(dialog_.Edit(kNameEdit), Qt::Key_Escape);
  dialog_.close();
  EXPECT_EQ(commands_, (std::vector<int>{kCommandCancel, kCommandCancel}));
  // The handler decides what closes: the window is still there.
  EXPECT_TRUE(dialog_.isVisible());

  dialog_.DestroyWindow();
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_TRUE(dialog_.close());
  EXPECT_EQ(commands_.size(), 2u);
}

TEST_F(TemplateDialogTest, TabOrderIsTemplateOrder) {
  ShowActive();
  dialog_.Edit(kNameEdit)->setFocus();
  std::vector<QWidget*> visited{QApplication::focusWidget()};
  for (int i = 0; i < 6; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited.push_back(QApplication::focusWidget());
  }
  const std::vector<QWidget*> expected{dialog_.Edit(kNameEdit),     dialog_.Button(kBrowseButton),
                                       dialog_.Edit(kNumberEdit),   dialog_.CheckBox(kOptionBox),
                                       dialog_.OutputPane(kPane),   dialog_.Button(kGoButton),
                                       dialog_.Button(kOtherButton)};
  EXPECT_EQ(visited, expected);
}

TEST_F(TemplateDialogTest, ReplaceControlKeepsPlaceAndState) {
  const QRect where = dialog_.Control(kHiddenButton)->geometry();
  auto replacement = std::make_unique<QPushButton>("New");
  QPushButton* raw = replacement.get();
  EXPECT_EQ(dialog_.ReplaceControl(kHiddenButton, std::move(replacement)), raw);
  EXPECT_EQ(dialog_.Control(kHiddenButton), raw);
  EXPECT_EQ(raw->geometry(), where);
  EXPECT_TRUE(raw->isHidden());
  EXPECT_EQ(raw->parentWidget(), dialog_.client());
  EXPECT_EQ(dialog_.ReplaceControl(4242, std::make_unique<QPushButton>()), nullptr);
}

// The neutral calls: a missing id or a control of the wrong kind fails and
// changes nothing; the right one shows what was asked.
TEST_F(TemplateDialogTest, NeutralCallsReachTheirControlOrFail) {
  Dialog& d = dialog_;
  constexpr int kMissing = 4242;
  EXPECT_FALSE(d.HasControl(kMissing));
  EXPECT_FALSE(d.EnableControl(kMissing, false));
  EXPECT_FALSE(d.IsControlEnabled(kMissing));
  EXPECT_FALSE(d.ShowControl(kMissing, false));
  EXPECT_FALSE(d.FocusControl(kMissing));
  EXPECT_FALSE(d.SetControlTip(kMissing, "tip"));
  EXPECT_FALSE(d.SetCueBanner(kGoButton, "hint")) << "only edits have one";
  EXPECT_EQ(d.AttachOutputPane(kNameEdit), nullptr) << "not a pane";
  EXPECT_FALSE(d.MakeLink(kNameEdit, "https://example.org/", {})) << "not a label";

  ASSERT_TRUE(d.SetCueBanner(kNameEdit, "every interface"));
  EXPECT_EQ(dialog_.Edit(kNameEdit)->placeholderText(), "every interface");
  ASSERT_TRUE(d.SetControlTip(kNameEdit, "caf\xC3\xA9"));
  EXPECT_EQ(dialog_.Edit(kNameEdit)->toolTip(), QString::fromUtf8("caf\xC3\xA9"));
  ASSERT_TRUE(d.EnableControl(kGoButton, false));
  EXPECT_FALSE(d.IsControlEnabled(kGoButton));
  ASSERT_TRUE(d.FocusControl(kNumberEdit));
  EXPECT_EQ(d.FocusedControl(), kNumberEdit);
  ASSERT_TRUE(d.ShowControl(kHiddenButton, true));
  EXPECT_FALSE(dialog_.Control(kHiddenButton)->isHidden());
  EXPECT_EQ(d.StatusText(), "") << "no status line yet";
  d.AddStatusLine();
  d.SetStatusText("Stopped");
  EXPECT_EQ(d.StatusText(), "Stopped");
}

TEST_F(TemplateDialogTest, TimersTickUntilKilledAndAnIdSetAgainIsReplaced) {
  int first = 0;
  int second = 0;
  dialog_.SetTimer(7, std::chrono::milliseconds(1), [&] { ++first; });
  dialog_.SetTimer(7, std::chrono::milliseconds(1), [&] { ++second; });
  EXPECT_TRUE(QTest::qWaitFor([&] { return second >= 2; }, 5000));
  EXPECT_EQ(first, 0) << "replaced before it ticked";
  dialog_.KillTimer(7);
  const int ticks = second;
  QTest::qWait(20);
  EXPECT_EQ(second, ticks);
}

TEST(TemplateDialogModalTest, UnhandledOkAndCancelEndTheDialog) {
  for (int command : {kCommandOk, kCommandCancel}) {
    TemplateDialog dialog(SampleDialogTemplate());
    QTimer::singleShot(0, &dialog, [&dialog, command]() { dialog.SendCommand(command); });
    EXPECT_EQ(dialog.exec(), command);
  }
  TemplateDialog dialog(SampleDialogTemplate());
  QTimer::singleShot(0, &dialog,
                     [&dialog]() { QTest::keyClick(dialog.Edit(kNameEdit), Qt::Key_Escape); });
  EXPECT_EQ(dialog.exec(), kCommandCancel);
}

TEST(TemplateDialogLifetimeTest, HandlerMayDestroyItsDialog) {
  auto dialog = std::make_unique<TemplateDialog>(SampleDialogTemplate());
  bool ran_after = false;
  dialog->OnCommand(kGoButton, [&]() {
    dialog.reset();
    ran_after = true;
  });
  QPushButton* go = dialog->Button(kGoButton);
  go->click();
  EXPECT_TRUE(ran_after);
  EXPECT_EQ(dialog, nullptr);
}

}  // namespace
}  // namespace portwick

namespace portwick {
namespace {

TEST(TemplateDialogFrameTest, OverlappedWindowsResizeDialogFramesStayFixed) {
  DialogTemplate overlapped = testing::SampleDialogTemplate();
  overlapped.overlapped = true;
  TemplateDialog window(overlapped);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_NE(window.minimumSize(), window.maximumSize());

  TemplateDialog dialog(testing::SampleDialogTemplate());
  const QSize size = dialog.size();
  EXPECT_EQ(dialog.minimumSize(), size);
  EXPECT_EQ(dialog.maximumSize(), size);
  dialog.EnableResizing(testing::SampleResizeTable());
  dialog.resize(size + QSize(10, 10));
  EXPECT_EQ(dialog.size(), size + QSize(10, 10));
}

}  // namespace
}  // namespace portwick

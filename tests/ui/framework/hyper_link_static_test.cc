#include "ui/framework/qt/hyper_link_static.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>
#include <QTest>
#include <vector>

#include "test_dialogs.h"
#include "ui/framework/qt/template_dialog.h"

namespace portwick {
namespace {

using namespace portwick::testing;

class HyperLinkStaticTest : public ::testing::Test {
 protected:
  void SetUp() override {
    link_ = HyperLinkStatic::FromLabel(dialog_, kCaption, target_, [this](const QUrl& url) {
      opened_.push_back(url);
      return open_result_;
    });
    ASSERT_NE(link_, nullptr);
    dialog_.show();
    dialog_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));
  }

  TemplateDialog dialog_{SampleDialogTemplate()};
  const QUrl target_{"https://example.org/portwick/?from=about"};
  HyperLinkStatic* link_ = nullptr;
  std::vector<QUrl> opened_;
  bool open_result_ = true;
};

TEST_F(HyperLinkStaticTest, TakesTheLabelsPlaceAndLooksLikeALink) {
  EXPECT_EQ(dialog_.Control(kCaption), link_);
  EXPECT_EQ(link_->text(), "Caption");
  EXPECT_TRUE(link_->font().underline());
  EXPECT_EQ(link_->font().family(), dialog_.font().family());
  EXPECT_EQ(link_->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(link_->toolTip(), target_.toString());
  EXPECT_FALSE(link_->visited());
  EXPECT_EQ(link_->palette().color(QPalette::WindowText), link_->link_color());
  EXPECT_EQ(HyperLinkStatic::FromLabel(dialog_, kNameEdit, target_), nullptr);
}

TEST_F(HyperLinkStaticTest, OpensOnReleaseOverTheLabelAndTurnsVisited) {
  // Press on the label, release outside: nothing.
  QTest::mousePress(link_, Qt::LeftButton, {}, QPoint(2, 2));
  QTest::mouseRelease(link_, Qt::LeftButton, {}, QPoint(-5, -5));
  EXPECT_TRUE(opened_.empty());
  // A release without a press on the label: nothing.
  QTest::mouseRelease(link_, Qt::LeftButton, {}, QPoint(2, 2));
  EXPECT_TRUE(opened_.empty());

  QTest::mouseClick(link_, Qt::LeftButton, {}, QPoint(2, 2));
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], target_);
  EXPECT_TRUE(link_->visited());
  EXPECT_EQ(link_->palette().color(QPalette::WindowText), link_->visited_color());
}

TEST_F(HyperLinkStaticTest, OpensOnEnterAndSpaceWhenFocused) {
  link_->setFocus();
  ASSERT_TRUE(link_->hasFocus());
  QTest::keyClick(link_, Qt::Key_Return);
  QTest::keyClick(link_, Qt::Key_Space);
  QTest::keyClick(link_, Qt::Key_A);
  EXPECT_EQ(opened_.size(), 2u);
}

TEST_F(HyperLinkStaticTest, FailedOpenStaysUnvisited) {
  open_result_ = false;
  EXPECT_FALSE(link_->Open());
  EXPECT_EQ(opened_.size(), 1u);
  EXPECT_FALSE(link_->visited());
  EXPECT_EQ(link_->palette().color(QPalette::WindowText), link_->link_color());
}

TEST(LinkColorTest, PaletteColoursWinWhenSetOtherwiseBlueAndPurple) {
  const QPalette saved = QApplication::palette();
  QApplication::setPalette(QPalette());
  QPalette plain = QApplication::palette();
  plain.setResolveMask(0);
  QApplication::setPalette(plain);
  EXPECT_EQ(DesktopLinkColor(), QColor(0, 0, 255));
  EXPECT_EQ(DesktopVisitedLinkColor(), QColor(128, 0, 128));

  QPalette custom = QApplication::palette();
  custom.setColor(QPalette::Link, QColor(1, 2, 3));
  custom.setColor(QPalette::LinkVisited, QColor(4, 5, 6));
  QApplication::setPalette(custom);
  EXPECT_EQ(DesktopLinkColor(), QColor(1, 2, 3));
  EXPECT_EQ(DesktopVisitedLinkColor(), QColor(4, 5, 6));
  HyperLinkStatic link("x", QUrl("https://example.org/"));
  EXPECT_EQ(link.link_color(), QColor(1, 2, 3));
  QApplication::setPalette(saved);
}

}  // namespace
}  // namespace portwick

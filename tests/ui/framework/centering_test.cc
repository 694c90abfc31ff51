#include "ui/framework/qt/centering.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "test_dialogs.h"
#include "ui/framework/qt/template_dialog.h"

namespace portwick {
namespace {

TEST(CenteredPositionTest, CentresWithTruncationAndClamps) {
  struct Case {
    QRect area;
    QSize size;
    QPoint expected;
  };
  const Case cases[] = {
      {QRect(0, 0, 1000, 800), QSize(200, 100), QPoint(400, 350)},
      // (0 + 1001) / 2 - 201 / 2 = 500 - 100.
      {QRect(0, 0, 1001, 801), QSize(201, 101), QPoint(400, 350)},
      // Work area not at the origin (a panel on the left and on top).
      {QRect(50, 30, 1000, 800), QSize(200, 100), QPoint(450, 380)},
      // Negative coordinates: C++ division truncates toward zero.
      {QRect(-1001, -11, 1000, 10), QSize(3, 3), QPoint(-502, -7)},
      // Wider than the area: pinned to its left edge, never right of it.
      {QRect(10, 20, 300, 200), QSize(500, 400), QPoint(10, 20)},
      // Exactly as wide as the area.
      {QRect(10, 20, 300, 200), QSize(300, 200), QPoint(10, 20)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CenteredPosition(c.area, c.size), c.expected)
        << c.area.x() << "," << c.area.y() << " " << c.size.width();
  }
}

TEST(CenterOnScreenTest, MovesTheDialogIntoTheAvailableArea) {
  TemplateDialog dialog(testing::SampleDialogTemplate());
  const QSize size = dialog.size();
  dialog.CenterOnScreen();
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(dialog.pos(), CenteredPosition(area, size));
  EXPECT_EQ(dialog.size(), size);
}

}  // namespace
}  // namespace portwick

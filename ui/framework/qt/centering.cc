#include "ui/framework/qt/centering.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace portwick {

namespace {

// One axis: the area spans [low, high), the window is `length` long.
int CenteredOnAxis(int low, int high, int length) {
  int pos = (low + high) / 2 - length / 2;
  if (pos < low) {
    pos = low;
  } else if (pos + length > high) {
    pos = high - length;
  }
  return pos;
}

}  // namespace

QPoint CenteredPosition(const QRect& area, const QSize& size) {
  return QPoint(CenteredOnAxis(area.x(), area.x() + area.width(), size.width()),
                CenteredOnAxis(area.y(), area.y() + area.height(), size.height()));
}

void CenterOnScreen(QWidget* window) {
  QScreen* screen = window->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  // Before the first show the frame is not known yet; frameGeometry() then
  // equals geometry().
  const QSize size = window->frameGeometry().size();
  window->move(CenteredPosition(screen->availableGeometry(), size));
}

}  // namespace portwick

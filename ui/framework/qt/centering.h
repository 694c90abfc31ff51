#ifndef PORTWICK_UI_FRAMEWORK_QT_CENTERING_H_
#define PORTWICK_UI_FRAMEWORK_QT_CENTERING_H_

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace portwick {

// Top-left position that centres a window of `size` in `area`:
// x = (left + right) / 2 - width / 2 with truncating divisions (right is
// exclusive, i.e. area.x() + area.width()); a window left of the area is
// moved to its left edge, otherwise one that passes its right edge is moved
// back to end there. y likewise. A window larger than the area ends at the
// area's left/top edge.
QPoint CenteredPosition(const QRect& area, const QSize& size);

// Moves top-level `window` (without resizing it) to the centre of the
// available geometry of its screen (the primary screen when it has none).
// Call before the window is first shown. GUI thread only.
void CenterOnScreen(QWidget* window);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_QT_CENTERING_H_

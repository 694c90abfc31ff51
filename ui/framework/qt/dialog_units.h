#ifndef PORTWICK_UI_FRAMEWORK_QT_DIALOG_UNITS_H_
#define PORTWICK_UI_FRAMEWORK_QT_DIALOG_UNITS_H_

#include <QRect>

class QFont;

namespace portwick {

// The base units of a dialog font: `cx` is the average character width (the
// width of "A".."Z" followed by "a".."z", divided by 52 and rounded), `cy` the
// font's line height. One horizontal dialog unit is cx / 4 pixels, one
// vertical unit cy / 8 pixels.
struct DialogBaseUnits {
  int cx = 0;
  int cy = 0;
};

// Measures `font`. Needs a QGuiApplication.
DialogBaseUnits BaseUnitsOf(const QFont& font);

// x * cx / 4 and y * cy / 8, truncated.
int DialogUnitsToPixelsX(int x, const DialogBaseUnits& units);
int DialogUnitsToPixelsY(int y, const DialogBaseUnits& units);

// Converts a rectangle given as x, y, width, height in dialog units; each of
// the four values is converted on its own.
QRect DialogUnitsToPixels(int x, int y, int width, int height, const DialogBaseUnits& units);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_QT_DIALOG_UNITS_H_

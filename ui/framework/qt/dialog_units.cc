#include "ui/framework/qt/dialog_units.h"

#include <QFont>
#include <QFontMetrics>

namespace portwick {

namespace {
constexpr char kAverageSample[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kSampleLength = 52;
}  // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(QString::fromLatin1(kAverageSample));
  DialogBaseUnits units;
  units.cx = (width + kSampleLength / 2) / kSampleLength;
  units.cy = metrics.height();
  return units;
}

int DialogUnitsToPixelsX(int x, const DialogBaseUnits& units) { return x * units.cx / 4; }

int DialogUnitsToPixelsY(int y, const DialogBaseUnits& units) { return y * units.cy / 8; }

QRect DialogUnitsToPixels(int x, int y, int width, int height, const DialogBaseUnits& units) {
  return QRect(DialogUnitsToPixelsX(x, units), DialogUnitsToPixelsY(y, units),
               DialogUnitsToPixelsX(width, units), DialogUnitsToPixelsY(height, units));
}

}  // namespace portwick

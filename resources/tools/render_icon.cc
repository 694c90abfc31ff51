// Renders one of Portwick's icon drawings to a PNG with QPainter.
//
//   portwick_render_icon IN.svg SIZE OUT.png
//
// Understands the small part of SVG the drawings use: the root's viewBox and
// <rect> (x, y, width, height, rx, ry) and <polygon> (points) elements with
// fill, stroke and stroke-width given as attributes in #rrggbb or "none".
// Anything else makes it fail, so a drawing never renders silently wrong.

#include <QtCore/QFile>
#include <QtCore/QRegularExpression>
#include <QtCore/QXmlStreamReader>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtGui/QPolygonF>
#include <cstdio>
#include <cstdlib>

namespace {

QColor ParseColor(QStringView text) {
  if (text.isEmpty() || text == u"none") return Qt::transparent;
  return QColor(text.toString());
}

double Number(const QXmlStreamAttributes& attributes, const char* name) {
  return attributes.value(QLatin1String(name)).toDouble();
}

void SetPenAndBrush(QPainter& painter, const QXmlStreamAttributes& a) {
  QColor stroke = ParseColor(a.value(QLatin1String("stroke")));
  double width = a.hasAttribute(QLatin1String("stroke-width")) ? Number(a, "stroke-width") : 1.0;
  painter.setPen(stroke.alpha() == 0 ? QPen(Qt::NoPen) : QPen(stroke, width));
  QColor fill = ParseColor(a.value(QLatin1String("fill")));
  painter.setBrush(fill.alpha() == 0 ? QBrush(Qt::NoBrush) : QBrush(fill));
}

bool Fail(const QString& path, const char* what) {
  std::fprintf(stderr, "%s: %s\n", qPrintable(path), what);
  return false;
}

bool Render(const QString& path, int size, QImage* image) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
    return false;
  }
  image->fill(Qt::transparent);
  QPainter painter(image);
  painter.setRenderHint(QPainter::Antialiasing);

  QXmlStreamReader xml(&file);
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    const QStringView name = xml.name();
    const QXmlStreamAttributes a = xml.attributes();
    if (name == u"svg") {
      const auto box = a.value(QLatin1String("viewBox")).split(u' ', Qt::SkipEmptyParts);
      if (box.size() != 4) return Fail(path, "the root needs a viewBox of four numbers");
      painter.scale(size / box[2].toDouble(), size / box[3].toDouble());
      painter.translate(-box[0].toDouble(), -box[1].toDouble());
      continue;
    }
    SetPenAndBrush(painter, a);
    if (name == u"rect") {
      QRectF rect(Number(a, "x"), Number(a, "y"), Number(a, "width"), Number(a, "height"));
      painter.drawRoundedRect(rect, Number(a, "rx"), Number(a, "ry"));
    } else if (name == u"polygon") {
      const QStringList numbers =
          a.value(QLatin1String("points"))
              .toString()
              .split(QRegularExpression(QStringLiteral("[ ,]+")), Qt::SkipEmptyParts);
      if (numbers.size() % 2 != 0) return Fail(path, "odd number of polygon coordinates");
      QPolygonF polygon;
      for (qsizetype i = 0; i < numbers.size(); i += 2)
        polygon << QPointF(numbers[i].toDouble(), numbers[i + 1].toDouble());
      painter.drawPolygon(polygon);
    } else {
      return Fail(path, "unsupported element");
    }
  }
  if (xml.hasError()) return Fail(path, qPrintable(xml.errorString()));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s IN.svg SIZE OUT.png\n", argv[0]);
    return 2;
  }
  QGuiApplication app(argc, argv);
  const int size = std::atoi(argv[2]);
  if (size <= 0) return 2;
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  if (!Render(QString::fromLocal8Bit(argv[1]), size, &image)) return 1;
  if (!image.convertToFormat(QImage::Format_ARGB32).save(QString::fromLocal8Bit(argv[3]), "PNG"))
    return 1;
  return 0;
}

#include "ui/framework/qt/hyper_link_static.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <memory>
#include <utility>

#include "ui/framework/qt/template_dialog.h"

namespace portwick {

namespace {

const QColor kDefaultLinkColor(0, 0, 255);
const QColor kDefaultVisitedColor(128, 0, 128);

QColor PaletteColorOr(QPalette::ColorRole role, const QColor& fallback) {
  const QPalette palette = QGuiApplication::palette();
  if (palette.isBrushSet(QPalette::Active, role)) {
    return palette.color(QPalette::Active, role);
  }
  return fallback;
}

}  // namespace

QColor DesktopLinkColor() { return PaletteColorOr(QPalette::Link, kDefaultLinkColor); }

QColor DesktopVisitedLinkColor() {
  return PaletteColorOr(QPalette::LinkVisited, kDefaultVisitedColor);
}

HyperLinkStatic::HyperLinkStatic(const QString& label, const QUrl& target, QWidget* parent)
    : QLabel(label, parent),
      target_(target),
      link_color_(DesktopLinkColor()),
      visited_color_(DesktopVisitedLinkColor()) {
  setTextFormat(Qt::PlainText);
  // Only the underline is set here, so the rest of the font follows the
  // dialog's.
  QFont underlined;
  underlined.setUnderline(true);
  setFont(underlined);
  setCursor(Qt::PointingHandCursor);
  setToolTip(target_.toString());
  setFocusPolicy(Qt::StrongFocus);
  ApplyColor();
}

HyperLinkStatic::~HyperLinkStatic() = default;

HyperLinkStatic* HyperLinkStatic::FromLabel(TemplateDialog& dialog, int control_id,
                                            const QUrl& target, OpenUrlFunction open_url) {
  QLabel* label = dialog.Label(control_id);
  if (label == nullptr) return nullptr;
  auto link = std::make_unique<HyperLinkStatic>(label->text(), target);
  link->SetOpenUrl(std::move(open_url));
  link->setAlignment(label->alignment());
  link->setWordWrap(label->wordWrap());
  return static_cast<HyperLinkStatic*>(dialog.ReplaceControl(control_id, std::move(link)));
}

void HyperLinkStatic::SetOpenUrl(OpenUrlFunction open_url) { open_url_ = std::move(open_url); }

bool HyperLinkStatic::Open() {
  const bool opened = open_url_ ? open_url_(target_) : QDesktopServices::openUrl(target_);
  if (opened) {
    visited_ = true;
    ApplyColor();
    update();
  }
  return opened;
}

void HyperLinkStatic::ApplyColor() {
  QPalette own = palette();
  own.setColor(QPalette::WindowText, current_color());
  setPalette(own);
}

void HyperLinkStatic::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    // The press grabs the mouse until the release (Qt's implicit grab).
    pressed_ = true;
    event->accept();
    return;
  }
  QLabel::mousePressEvent(event);
}

void HyperLinkStatic::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && pressed_) {
    pressed_ = false;
    event->accept();
    if (rect().contains(event->position().toPoint())) Open();
    return;
  }
  QLabel::mouseReleaseEvent(event);
}

void HyperLinkStatic::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      event->accept();
      Open();
      return;
    default:
      QLabel::keyPressEvent(event);
  }
}

void HyperLinkStatic::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  if (!hasFocus()) return;
  QPainter painter(this);
  QStyleOptionFocusRect option;
  option.initFrom(this);
  option.rect = contentsRect();
  option.backgroundColor = palette().color(QPalette::Window);
  style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

}  // namespace portwick

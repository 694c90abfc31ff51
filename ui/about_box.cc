#include "ui/about_box.h"

#include <QtCore/QUrl>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>

#include "resources/app_icon.h"
#include "ui/framework/centering.h"
#include "ui/framework/hyper_link_static.h"
#include "ui/framework/template_dialog.h"
#include "ui/version_reader.h"

namespace portwick {

namespace {

using K = ControlKind;

constexpr ControlTemplate kControls[] = {
    {K::kPushButton, kCommandOk, "OK", kStyleDefaultButton | kStyleTabStop, 170, 60, 50, 14},
    {K::kLabel, kAboutVersionLabel, "Portwick v1.0", kStyleNone, 67, 18, 134, 11},
    {K::kIcon, kNoControlId, ":/portwick/icon-32.png", kStyleNone, 19, 21, 20, 20},
    {K::kGroupBox, kNoControlId, nullptr, kStyleNone, 49, 7, 171, 45},
    {K::kLabel, kAboutPublisherLink, kPublisherName, kStyleNone, 115, 32, 89, 10},
    {K::kLabel, kNoControlId, kCopyrightLine, kStyleNone, 69, 32, 45, 10},
};

// Centres `box` over `owner`, kept inside the owner's screen.
void CenterOver(QWidget* box, const QWidget* owner) {
  if (owner == nullptr) {
    CenterOnScreen(box);
    return;
  }
  QPoint position = CenteredPosition(owner->frameGeometry(), box->size());
  if (const QScreen* screen = owner->screen()) {
    const QRect area = screen->availableGeometry();
    const QPoint inside = CenteredPosition(area, box->size());
    // Only pull the box back where it would leave the screen.
    if (position.x() < area.left() || position.x() + box->width() > area.x() + area.width())
      position.setX(inside.x());
    if (position.y() < area.top() || position.y() + box->height() > area.y() + area.height())
      position.setY(inside.y());
  }
  box->move(position);
}

}  // namespace

const DialogTemplate& AboutBoxTemplate() {
  static const DialogTemplate kTemplate{
      .caption = "About",
      .width = 227,
      .height = 81,
      .font_family = "MS Sans Serif",
      .font_point_size = 8,
      .controls = kControls,
      .menus = {},
  };
  return kTemplate;
}

AboutBox::AboutBox(QWidget* owner, const UiServices& services) {
  const UiServices real = services.Resolved();
  ApplicationIcon();  // makes the icon's image available to the template
  dialog_ = std::make_unique<TemplateDialog>(AboutBoxTemplate(), owner);
  // A fixed modal frame: caption and close box, no resizing.
  dialog_->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint);
  dialog_->setFixedSize(dialog_->size());
  dialog_->setModal(true);

  CenterOver(dialog_.get(), owner);

  const std::string target = HomePageAddress(kFromAbout);
  UrlOpener open_url = real.open_url;
  link_ = HyperLinkStatic::FromLabel(
      *dialog_, kAboutPublisherLink, QUrl(QString::fromStdString(target)),
      [open_url](const QUrl& url) { return open_url(url.toString().toStdString()); });

  if (QLabel* version = dialog_->Label(kAboutVersionLabel)) {
    version->setText(QString::fromStdString("Portwick " + real.version_cache->Get(*real.module)));
  }
  if (QWidget* ok = dialog_->Control(kCommandOk)) ok->setFocus();
}

AboutBox::~AboutBox() = default;

int AboutBox::Run() { return dialog_->exec(); }

void ShowAboutBox(const UiServices& services) {
  AboutBox box(QApplication::activeWindow(), services);
  box.Run();
}

}  // namespace portwick

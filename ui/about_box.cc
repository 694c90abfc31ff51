#include "ui/about_box.h"

#include "ui/framework/desktop.h"
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

AboutBox::AboutBox(NativeWindow owner, const UiServices& services) {
  const UiServices real = services.Resolved();
  // A fixed modal frame: caption and close box, no resizing.
  dialog_ = CreateDialog(AboutBoxTemplate(), DialogFrame::kModal, owner);
  dialog_->CenterOver(owner);
  dialog_->MakeLink(kAboutPublisherLink, HomePageAddress(kFromAbout), real.open_url);
  dialog_->SetControlText(kAboutVersionLabel, "Portwick " + real.version_cache->Get(*real.module));
  dialog_->FocusControl(kCommandOk);
}

AboutBox::~AboutBox() = default;

int AboutBox::Run() { return dialog_->RunModal(); }

void ShowAboutBox(const UiServices& services) {
  AboutBox box(ActiveWindow(), services);
  box.Run();
}

}  // namespace portwick

#include "ui/home_page.h"

#include <QtCore/QString>
#include <QtCore/QUrl>
#include <QtGui/QDesktopServices>

namespace portwick {

std::string HomePageAddress(std::string_view from) {
  std::string address(kHomePage);
  address += "?from=";
  address += from;
  return address;
}

UrlOpener DesktopUrlOpener() {
  return [](const std::string& address) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(address), QUrl::StrictMode));
  };
}

void VisitHomePage(const UrlOpener& opener) {
  if (opener) opener(HomePageAddress(kFromMenu));
}

}  // namespace portwick

#include "ui/home_page.h"

#include "ui/framework/desktop.h"

namespace portwick {

std::string HomePageAddress(std::string_view from) {
  std::string address(kHomePage);
  address += "?from=";
  address += from;
  return address;
}

UrlOpener DesktopUrlOpener() {
  return [](const std::string& address) { return OpenUrlInBrowser(address); };
}

void VisitHomePage(const UrlOpener& opener) {
  if (opener) opener(HomePageAddress(kFromMenu));
}

}  // namespace portwick

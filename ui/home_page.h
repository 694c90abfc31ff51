#ifndef PORTWICK_UI_HOME_PAGE_H_
#define PORTWICK_UI_HOME_PAGE_H_

#include <string>
#include <string_view>

#include "ui/framework/desktop.h"

namespace portwick {

// The product's home page; each visit adds "?from=" and where it came from.
inline constexpr std::string_view kHomePage = "https://portwick.org/portwick/";
inline constexpr std::string_view kFromMenu = "menu";
inline constexpr std::string_view kFromAbout = "about";

// kHomePage + "?from=" + from.
std::string HomePageAddress(std::string_view from);

// Opens addresses with the desktop's browser (OpenUrlInBrowser). GUI thread.
UrlOpener DesktopUrlOpener();

// Help > Visit Home Page: opens the home page "?from=menu" with `opener`.
// A failure shows nothing.
void VisitHomePage(const UrlOpener& opener);

}  // namespace portwick

#endif  // PORTWICK_UI_HOME_PAGE_H_

#include "ui/home_page.h"

#include <gtest/gtest.h>

#include <QtCore/QUrl>
#include <string>
#include <vector>

namespace portwick {
namespace {

TEST(HomePageTest, AddressCarriesWhereTheVisitCameFrom) {
  EXPECT_EQ(HomePageAddress(kFromMenu), "https://portwick.org/portwick/?from=menu");
  EXPECT_EQ(HomePageAddress(kFromAbout), "https://portwick.org/portwick/?from=about");
  const QUrl url(QString::fromStdString(HomePageAddress(kFromMenu)), QUrl::StrictMode);
  ASSERT_TRUE(url.isValid());
  EXPECT_EQ(url.path(), "/portwick/");
  EXPECT_EQ(url.query(), "from=menu");
}

TEST(HomePageTest, VisitOpensMenuAddressOnceAndIgnoresFailure) {
  std::vector<std::string> opened;
  UrlOpener failing = [&opened](const std::string& address) {
    opened.push_back(address);
    return false;
  };
  VisitHomePage(failing);
  VisitHomePage(UrlOpener());  // no opener: nothing happens, nothing crashes
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], "https://portwick.org/portwick/?from=menu");
}

}  // namespace
}  // namespace portwick

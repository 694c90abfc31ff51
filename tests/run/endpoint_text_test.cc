#include "run/endpoint_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace portwick {
namespace {

TEST(ParseBindAddressTest, AddressLiteralsOnly) {
  struct Case {
    std::string text;
    std::optional<std::string> address;  // AddressText of the result; nullopt: refused
    Endpoint::Family family;
  };
  using F = Endpoint::Family;
  const Case kCases[] = {
      {"", "0.0.0.0", F::kIPv4},
      {"127.0.0.1", "127.0.0.1", F::kIPv4},
      {"0.0.0.0", "0.0.0.0", F::kIPv4},
      {"::", "::", F::kIPv6},
      {"[::]", "::", F::kIPv6},
      {"::1", "::1", F::kIPv6},
      {"[::1]", "::1", F::kIPv6},
      {"fe80::1%lo", "fe80::1%lo", F::kIPv6},
      {"[fe80::1%lo]", "fe80::1%lo", F::kIPv6},
      {"localhost", std::nullopt, F::kIPv4},
      {"127.0.0.1:80", std::nullopt, F::kIPv4},
      {"[::1]:80", std::nullopt, F::kIPv4},
      {" 127.0.0.1", std::nullopt, F::kIPv4},
      {"256.0.0.1", std::nullopt, F::kIPv4},
      {"*", std::nullopt, F::kIPv4},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE("[" + c.text + "]");
    const std::optional<Endpoint> endpoint = ParseBindAddress(c.text);
    ASSERT_EQ(endpoint.has_value(), c.address.has_value());
    if (!endpoint) continue;
    EXPECT_EQ(endpoint->AddressText(), *c.address);
    EXPECT_EQ(endpoint->family(), c.family);
    EXPECT_EQ(endpoint->port(), 0);
  }
}

TEST(EndpointTextTest, ListeningAndDestinationTexts) {
  EXPECT_EQ(ListeningText("", 1999), "*:1999");
  EXPECT_EQ(ListeningText("0.0.0.0", 1999), "0.0.0.0:1999");
  EXPECT_EQ(ListeningText("127.0.0.1", 80), "127.0.0.1:80");
  EXPECT_EQ(ListeningText("::", 1999), "[::]:1999");
  EXPECT_EQ(ListeningText("[::1]", 0), "[::1]:0");
  EXPECT_EQ(ListeningText("fe80::1%lo", 80), "[fe80::1%lo]:80");

  EXPECT_EQ(DestinationText("localhost", 2007), "localhost:2007");
  EXPECT_EQ(DestinationText("::1", 2007), "[::1]:2007");
  EXPECT_EQ(DestinationText("[::1]", 2007), "[::1]:2007");
  EXPECT_EQ(DestinationText("", 2007), "localhost:2007");

  EXPECT_EQ(RemoteHostForRun("[fe80::1%lo]"), "fe80::1%lo");
  EXPECT_EQ(RemoteHostForRun("fe80::1%lo"), "fe80::1%lo");
  EXPECT_EQ(RemoteHostForRun("example.org"), "example.org");
}

}  // namespace
}  // namespace portwick

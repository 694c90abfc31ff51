#include "base/endpoint.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#if defined(_WIN32)
#include "base/windows/sockaddr.h"
#else
#include <net/if.h>
#include <netinet/in.h>

#include "base/posix/sockaddr.h"
#endif

namespace portwick {
namespace {

struct ParseCase {
  const char* text;
  const char* formatted;  // null: refused
};

class EndpointParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(EndpointParseTest, ParsesAndFormatsBack) {
  const ParseCase& c = GetParam();
  const std::optional<Endpoint> endpoint = Endpoint::Parse(c.text);
  if (c.formatted == nullptr) {
    EXPECT_FALSE(endpoint.has_value()) << endpoint->ToString();
    return;
  }
  ASSERT_TRUE(endpoint.has_value());
  EXPECT_EQ(endpoint->ToString(), c.formatted);
  // The formatted text reads back as the same endpoint.
  EXPECT_EQ(Endpoint::Parse(endpoint->ToString()), endpoint);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EndpointParseTest,
    testing::Values(ParseCase{"127.0.0.1:2007", "127.0.0.1:2007"},
                    ParseCase{"0.0.0.0:0", "0.0.0.0:0"}, ParseCase{"[::1]:2007", "[::1]:2007"},
                    ParseCase{"[::]:65535", "[::]:65535"},
                    ParseCase{"[::ffff:10.0.0.1]:80", "[::ffff:10.0.0.1]:80"},
                    ParseCase{"[2001:DB8::0:1]:443", "[2001:db8::1]:443"},
                    ParseCase{"[fe80::1%lo]:80", "[fe80::1%lo]:80"},
                    // Refused: no port, a port out of range or with a sign,
                    // an unbracketed IPv6 address, a name, a bad scope.
                    ParseCase{"127.0.0.1", nullptr}, ParseCase{"127.0.0.1:", nullptr},
                    ParseCase{"127.0.0.1:65536", nullptr}, ParseCase{"127.0.0.1:+80", nullptr},
                    ParseCase{"127.0.0.1:8x", nullptr}, ParseCase{"::1:2007", nullptr},
                    ParseCase{"localhost:2007", nullptr}, ParseCase{"127.1:2007", nullptr},
                    ParseCase{"[fe80::1%nosuchif0]:80", nullptr}, ParseCase{"[]:80", nullptr},
                    ParseCase{":80", nullptr}));

#if defined(_WIN32)
// Windows names interfaces differently; its loopback interface is index 1.
constexpr const char* kScopedLinkLocal = "[fe80::1%1]:22";
#else
constexpr const char* kScopedLinkLocal = "[fe80::1%lo]:22";
#endif

TEST(EndpointTest, SocketAddressRoundTripKeepsFamilyAddressScopeAndPort) {
#if defined(_WIN32)
  const unsigned loopback_index = 1;
#else
  const unsigned loopback_index = if_nametoindex("lo");
#endif
  ASSERT_NE(loopback_index, 0u);
  for (const char* text : {"192.168.1.20:8080", "[2001:db8::7]:1", kScopedLinkLocal}) {
    const Endpoint endpoint = *Endpoint::Parse(text);
    sockaddr_storage storage;
    const socklen_t length = ToSockaddr(endpoint, &storage);
    const std::optional<Endpoint> back =
        FromSockaddr(reinterpret_cast<const sockaddr*>(&storage), length);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(*back, endpoint) << text;
  }
  EXPECT_EQ(Endpoint::Parse(kScopedLinkLocal)->scope_id(), loopback_index);
  // A socket address cut short is refused rather than read past its end.
  sockaddr_storage storage;
  ToSockaddr(Endpoint::LoopbackIPv6(1), &storage);
  EXPECT_FALSE(FromSockaddr(reinterpret_cast<const sockaddr*>(&storage), sizeof(sockaddr_in)));
}

TEST(EndpointTest, WellKnownAddressesAndHostPortText) {
  EXPECT_EQ(Endpoint::AnyIPv4(5).ToString(), "0.0.0.0:5");
  EXPECT_EQ(Endpoint::AnyIPv6(5).ToString(), "[::]:5");
  EXPECT_EQ(Endpoint::LoopbackIPv4(5).ToString(), "127.0.0.1:5");
  EXPECT_EQ(Endpoint::LoopbackIPv6(5).ToString(), "[::1]:5");
  EXPECT_TRUE(Endpoint::AnyIPv6(0).IsAny());
  EXPECT_FALSE(Endpoint::LoopbackIPv4(0).IsAny());
  // A bare IPv6 literal is an address on its own, with or without brackets.
  EXPECT_EQ(Endpoint::ParseAddress("::1", 7), Endpoint::LoopbackIPv6(7));
  EXPECT_EQ(Endpoint::ParseAddress("[::1]", 7), Endpoint::LoopbackIPv6(7));
  EXPECT_FALSE(Endpoint::ParseAddress("example.org", 7));

  EXPECT_EQ(FormatHostPort("localhost", 2007), "localhost:2007");
  EXPECT_EQ(FormatHostPort("::1", 2007), "[::1]:2007");
  EXPECT_EQ(FormatHostPort("", 2007), ":2007");
  EXPECT_EQ(FormatDestination("", 2007), "localhost:2007");
  EXPECT_EQ(FormatDestination("[::1]", 2007), "[::1]:2007");
  EXPECT_EQ(StripBrackets("[::1]"), "::1");
  EXPECT_EQ(StripBrackets("::1"), "::1");
  EXPECT_EQ(StripBrackets("[x"), "[x");
}

}  // namespace
}  // namespace portwick

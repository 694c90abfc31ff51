#ifndef PORTWICK_BASE_ENDPOINT_H_
#define PORTWICK_BASE_ENDPOINT_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace portwick {

// One end of a TCP connection: an IPv4 or IPv6 address (with the scope of a
// link-local IPv6 address) and a port. A value type; any thread.
//
// Text forms: "127.0.0.1:2007", "[::1]:2007", "[fe80::1%lo]:80". The address
// alone is written without brackets ("::1", "fe80::1%lo").
class Endpoint {
 public:
  enum class Family { kIPv4, kIPv6 };

  // 0.0.0.0:0.
  Endpoint() = default;

  // Every IPv4 interface (0.0.0.0), every IPv6 interface (::), and the
  // loopback addresses.
  static Endpoint AnyIPv4(uint16_t port);
  static Endpoint AnyIPv6(uint16_t port);
  static Endpoint LoopbackIPv4(uint16_t port);
  static Endpoint LoopbackIPv6(uint16_t port);

  // An address literal: a dotted IPv4 address ("127.0.0.1"), or an IPv6
  // address with or without brackets and with an optional "%scope" (an
  // interface name or number). Host names are not resolved here.
  static std::optional<Endpoint> ParseAddress(std::string_view text, uint16_t port);
  // An address literal and a port: "ADDR:PORT" or "[IPV6]:PORT".
  static std::optional<Endpoint> Parse(std::string_view text);

  // From the address bytes in network order (4 for IPv4, 16 for IPv6). The
  // system's socket addresses convert through the platform's sockaddr.h
  // (base/posix/sockaddr.h), so this header includes no socket header.
  static Endpoint FromBytes(Family family, const uint8_t* bytes, uint16_t port,
                            uint32_t scope_id = 0);

  Family family() const { return family_; }
  uint16_t port() const { return port_; }
  void set_port(uint16_t port) { port_ = port; }
  // The address bytes in network order: 4 for IPv4, 16 for IPv6.
  const uint8_t* address_bytes() const { return address_.data(); }
  uint32_t scope_id() const { return scope_id_; }
  bool IsAny() const;

  std::string AddressText() const;
  std::string ToString() const;

  friend bool operator==(const Endpoint&, const Endpoint&) = default;

 private:
  Family family_ = Family::kIPv4;
  std::array<uint8_t, 16> address_{};
  uint32_t scope_id_ = 0;
  uint16_t port_ = 0;
};

// A host as the user gave it (a name, a dotted address or an IPv6 literal)
// and a port: what a destination is before it is resolved.
struct HostPort {
  std::string host;
  uint16_t port = 0;

  friend bool operator==(const HostPort&, const HostPort&) = default;
};

// "host:port", with brackets around a host that holds a ':' ("[::1]:2007").
std::string FormatHostPort(std::string_view host, int port);

// A destination as users read it: "host:port" as above, with an empty host
// (which the resolver takes as this machine) shown as "localhost".
std::string FormatDestination(std::string_view host, int port);

// Removes the brackets of a bracketed IPv6 literal ("[::1]" -> "::1"); any
// other text comes back unchanged.
std::string_view StripBrackets(std::string_view host);

}  // namespace portwick

#endif  // PORTWICK_BASE_ENDPOINT_H_

#ifndef PORTWICK_BASE_ADDRESS_LITERAL_H_
#define PORTWICK_BASE_ADDRESS_LITERAL_H_

#include <optional>
#include <string>

#include "base/endpoint.h"

// Address literals read and written by the system's own parser, so that
// Endpoint accepts and prints exactly what the socket calls do. Implemented
// per platform (base/posix/address_literal.cc); none of them touches the
// network. Any thread.
namespace portwick {

// A dotted IPv4 address ("127.0.0.1"), port 0; nothing when it is not one.
std::optional<Endpoint> ParseIPv4Literal(const std::string& text);
// An IPv6 address without brackets and with an optional "%scope" (an
// interface name or number), port 0; nothing when it is not one.
std::optional<Endpoint> ParseIPv6Literal(const std::string& text);
// The address alone, numeric: "127.0.0.1", "::1", "fe80::1%lo"; "?" when the
// system can't write it.
std::string AddressLiteral(const Endpoint& endpoint);

}  // namespace portwick

#endif  // PORTWICK_BASE_ADDRESS_LITERAL_H_

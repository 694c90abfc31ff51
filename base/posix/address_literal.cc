#include "base/address_literal.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstdint>

#include "base/posix/sockaddr.h"

namespace portwick {

std::optional<Endpoint> ParseIPv4Literal(const std::string& text) {
  uint8_t bytes[4];
  if (inet_pton(AF_INET, text.c_str(), bytes) != 1) return std::nullopt;
  return Endpoint::FromBytes(Endpoint::Family::kIPv4, bytes, 0);
}

std::optional<Endpoint> ParseIPv6Literal(const std::string& text) {
  // getaddrinfo with AI_NUMERICHOST reads IPv6 literals with a "%scope"
  // (an interface name or number) and never touches the network.
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* result = nullptr;
  if (getaddrinfo(text.c_str(), nullptr, &hints, &result) != 0) return std::nullopt;
  std::optional<Endpoint> endpoint = FromSockaddr(result->ai_addr, result->ai_addrlen);
  freeaddrinfo(result);
  return endpoint;
}

std::string AddressLiteral(const Endpoint& endpoint) {
  sockaddr_storage storage;
  const socklen_t length = ToSockaddr(endpoint, &storage);
  char host[NI_MAXHOST];
  // Numeric only: no resolver is asked. Gives "fe80::1%lo" for a scope.
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&storage), length, host, sizeof host, nullptr,
                  0, NI_NUMERICHOST) != 0) {
    return "?";
  }
  return host;
}

}  // namespace portwick

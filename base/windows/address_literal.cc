#include "base/address_literal.h"

#include <cstdint>

#include "base/windows/sockaddr.h"

namespace portwick {

std::optional<Endpoint> ParseIPv4Literal(const std::string& text) {
  uint8_t bytes[4];
  if (inet_pton(AF_INET, text.c_str(), bytes) != 1) return std::nullopt;
  return Endpoint::FromBytes(Endpoint::Family::kIPv4, bytes, 0);
}

std::optional<Endpoint> ParseIPv6Literal(const std::string& text) {
  // A numeric look-up reads a "%scope" too and never touches the network;
  // Winsock wants its start-up before getaddrinfo.
  // Winsock's parser also takes "[::1]:80" and the like: the address part
  // must be a plain literal first.
  uint8_t bytes[16];
  if (inet_pton(AF_INET6, text.substr(0, text.find('%')).c_str(), bytes) != 1) {
    return std::nullopt;
  }
  KeepWinsockStarted();
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* result = nullptr;
  if (getaddrinfo(text.c_str(), nullptr, &hints, &result) != 0) return std::nullopt;
  std::optional<Endpoint> endpoint =
      FromSockaddr(result->ai_addr, static_cast<int>(result->ai_addrlen));
  freeaddrinfo(result);
  return endpoint;
}

std::string AddressLiteral(const Endpoint& endpoint) {
  KeepWinsockStarted();
  sockaddr_storage storage;
  const int length = ToSockaddr(endpoint, &storage);
  char host[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&storage), length, host, sizeof host, nullptr,
                  0, NI_NUMERICHOST) != 0) {
    return "?";
  }
  return host;
}

}  // namespace portwick

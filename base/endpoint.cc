#include "base/endpoint.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <charconv>
#include <cstring>

namespace portwick {

namespace {

bool ParsePort(std::string_view text, uint16_t* port) {
  if (text.empty()) return false;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

Endpoint Endpoint::AnyIPv4(uint16_t port) {
  Endpoint endpoint;
  endpoint.port_ = port;
  return endpoint;
}

Endpoint Endpoint::AnyIPv6(uint16_t port) {
  Endpoint endpoint;
  endpoint.family_ = Family::kIPv6;
  endpoint.port_ = port;
  return endpoint;
}

Endpoint Endpoint::LoopbackIPv4(uint16_t port) {
  Endpoint endpoint;
  endpoint.address_ = {127, 0, 0, 1};
  endpoint.port_ = port;
  return endpoint;
}

Endpoint Endpoint::LoopbackIPv6(uint16_t port) {
  Endpoint endpoint = AnyIPv6(port);
  endpoint.address_[15] = 1;
  return endpoint;
}

std::optional<Endpoint> Endpoint::ParseAddress(std::string_view text, uint16_t port) {
  const bool bracketed = text.size() >= 2 && text.front() == '[' && text.back() == ']';
  if (bracketed) text = text.substr(1, text.size() - 2);
  if (text.empty() || text.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string literal(text);
  if (!bracketed && literal.find(':') == std::string::npos) {
    Endpoint endpoint;
    if (inet_pton(AF_INET, literal.c_str(), endpoint.address_.data()) != 1) return std::nullopt;
    endpoint.port_ = port;
    return endpoint;
  }
  // getaddrinfo with AI_NUMERICHOST reads IPv6 literals with a "%scope"
  // (an interface name or number) and never touches the network.
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* result = nullptr;
  if (getaddrinfo(literal.c_str(), nullptr, &hints, &result) != 0) return std::nullopt;
  std::optional<Endpoint> endpoint = FromSockaddr(result->ai_addr, result->ai_addrlen);
  freeaddrinfo(result);
  if (endpoint) endpoint->port_ = port;
  return endpoint;
}

std::optional<Endpoint> Endpoint::Parse(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view address = text.substr(0, colon);
  // An IPv6 address needs its brackets here, or its last group would read
  // as the port.
  if (address.find(':') != std::string_view::npos && address.front() != '[') return std::nullopt;
  uint16_t port = 0;
  if (!ParsePort(text.substr(colon + 1), &port)) return std::nullopt;
  return ParseAddress(address, port);
}

std::optional<Endpoint> Endpoint::FromSockaddr(const sockaddr* address, socklen_t length) {
  Endpoint endpoint;
  if (address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
    sockaddr_in in4;
    std::memcpy(&in4, address, sizeof in4);
    std::memcpy(endpoint.address_.data(), &in4.sin_addr, 4);
    endpoint.port_ = ntohs(in4.sin_port);
    return endpoint;
  }
  if (address->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
    sockaddr_in6 in6;
    std::memcpy(&in6, address, sizeof in6);
    endpoint.family_ = Family::kIPv6;
    std::memcpy(endpoint.address_.data(), &in6.sin6_addr, 16);
    endpoint.scope_id_ = in6.sin6_scope_id;
    endpoint.port_ = ntohs(in6.sin6_port);
    return endpoint;
  }
  return std::nullopt;
}

socklen_t Endpoint::ToSockaddr(sockaddr_storage* storage) const {
  std::memset(storage, 0, sizeof *storage);
  if (family_ == Family::kIPv4) {
    sockaddr_in in4{};
    in4.sin_family = AF_INET;
    in4.sin_port = htons(port_);
    std::memcpy(&in4.sin_addr, address_.data(), 4);
    std::memcpy(storage, &in4, sizeof in4);
    return sizeof in4;
  }
  sockaddr_in6 in6{};
  in6.sin6_family = AF_INET6;
  in6.sin6_port = htons(port_);
  std::memcpy(&in6.sin6_addr, address_.data(), 16);
  in6.sin6_scope_id = scope_id_;
  std::memcpy(storage, &in6, sizeof in6);
  return sizeof in6;
}

bool Endpoint::IsAny() const {
  const size_t size = family_ == Family::kIPv4 ? 4 : 16;
  for (size_t i = 0; i < size; ++i) {
    if (address_[i] != 0) return false;
  }
  return true;
}

std::string Endpoint::AddressText() const {
  sockaddr_storage storage;
  const socklen_t length = ToSockaddr(&storage);
  char host[NI_MAXHOST];
  // Numeric only: no resolver is asked. Gives "fe80::1%lo" for a scope.
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&storage), length, host, sizeof host, nullptr,
                  0, NI_NUMERICHOST) != 0) {
    return "?";
  }
  return host;
}

std::string Endpoint::ToString() const { return FormatHostPort(AddressText(), port_); }

std::string FormatHostPort(std::string_view host, int port) {
  std::string text;
  if (host.find(':') != std::string_view::npos) {
    text.append("[").append(host).append("]");
  } else {
    text.append(host);
  }
  return text + ":" + std::to_string(port);
}

std::string FormatDestination(std::string_view host, int port) {
  return FormatHostPort(host.empty() ? std::string_view("localhost") : StripBrackets(host), port);
}

std::string_view StripBrackets(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

}  // namespace portwick

#include "base/endpoint.h"

#include <charconv>
#include <cstring>

#include "base/address_literal.h"

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
  std::optional<Endpoint> endpoint = !bracketed && literal.find(':') == std::string::npos
                                         ? ParseIPv4Literal(literal)
                                         : ParseIPv6Literal(literal);
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

Endpoint Endpoint::FromBytes(Family family, const uint8_t* bytes, uint16_t port,
                             uint32_t scope_id) {
  Endpoint endpoint;
  endpoint.family_ = family;
  std::memcpy(endpoint.address_.data(), bytes, family == Family::kIPv4 ? 4 : 16);
  endpoint.scope_id_ = family == Family::kIPv4 ? 0 : scope_id;
  endpoint.port_ = port;
  return endpoint;
}

bool Endpoint::IsAny() const {
  const size_t size = family_ == Family::kIPv4 ? 4 : 16;
  for (size_t i = 0; i < size; ++i) {
    if (address_[i] != 0) return false;
  }
  return true;
}

std::string Endpoint::AddressText() const { return AddressLiteral(*this); }

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

#include "run/endpoint_text.h"

namespace portwick {

std::optional<Endpoint> ParseBindAddress(std::string_view text) {
  if (text.empty()) return Endpoint::AnyIPv4(0);
  return Endpoint::ParseAddress(text, 0);
}

std::string ListeningText(std::string_view bind_text, int port) {
  const std::optional<Endpoint> address = ParseBindAddress(bind_text);
  if (bind_text.empty() || !address) return "*:" + std::to_string(port);
  return FormatHostPort(address->AddressText(), port);
}

std::string RemoteHostForRun(std::string_view host) { return std::string(StripBrackets(host)); }

std::string DestinationText(std::string_view host, int port) {
  return FormatDestination(host, port);
}

}  // namespace portwick

#ifndef PORTWICK_RUN_ENDPOINT_TEXT_H_
#define PORTWICK_RUN_ENDPOINT_TEXT_H_

#include <optional>
#include <string>
#include <string_view>

#include "base/endpoint.h"

namespace portwick {

// The address to listen on from the text of --bind or the Local Host field:
// an IPv4 or IPv6 literal, with or without brackets, with an optional
// "%scope". Empty text gives every IPv4 interface (0.0.0.0). The port is 0;
// the local port is set apart. nullopt when the text is not an address
// (names are not resolved here).
std::optional<Endpoint> ParseBindAddress(std::string_view text);

// How the console and the window show where a run listens: "*:<port>" for
// the default of every IPv4 interface (empty `bind_text`), otherwise the
// address and port ("127.0.0.1:1999", "[::]:1999"). `bind_text` must have
// passed ParseBindAddress.
std::string ListeningText(std::string_view bind_text, int port);

// The remote host as the connector takes it: without the brackets that the
// Remote Host field may hold around an IPv6 literal.
std::string RemoteHostForRun(std::string_view host);

// Host and port as the console shows them: "localhost:2007", "[::1]:2007".
// An empty host is this machine, as the connector takes it: "localhost:2007".
std::string DestinationText(std::string_view host, int port);

}  // namespace portwick

#endif  // PORTWICK_RUN_ENDPOINT_TEXT_H_

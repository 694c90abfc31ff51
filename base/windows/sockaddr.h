#ifndef PORTWICK_BASE_WINDOWS_SOCKADDR_H_
#define PORTWICK_BASE_WINDOWS_SOCKADDR_H_

#include <winsock2.h>
#include <ws2tcpip.h>

#include <optional>

#include "base/endpoint.h"

// Conversions between Endpoint and the Winsock socket address structures,
// for the Windows files that make socket calls (base/sockaddr.cc; the
// Winsock start-up in base/windows/sockaddr.cc). Any thread.
namespace portwick {

using SockaddrLength = int;

// From a socket address of family AF_INET or AF_INET6; nothing for another
// family or a `length` too short for the family's structure.
std::optional<Endpoint> FromSockaddr(const sockaddr* address, SockaddrLength length);
// Fills `storage` and returns the length to pass to bind or connect.
SockaddrLength ToSockaddr(const Endpoint& endpoint, sockaddr_storage* storage);
// AF_INET or AF_INET6.
int AddressFamily(Endpoint::Family family);

// Starts Winsock once for the whole process and never cleans it up, for the
// calls that need it outside a socket layer's start-up (address literals,
// name look-ups). Winsock counts start-ups, so a socket layer's own counted
// clean-up still pairs with its own start-up. Any thread.
void KeepWinsockStarted();

}  // namespace portwick

#endif  // PORTWICK_BASE_WINDOWS_SOCKADDR_H_

#ifndef PORTWICK_BASE_POSIX_SOCKADDR_H_
#define PORTWICK_BASE_POSIX_SOCKADDR_H_

#include <netinet/in.h>
#include <sys/socket.h>

#include <optional>

#include "base/endpoint.h"

// Conversions between Endpoint and the POSIX socket address structures, for
// the files that make socket calls (base/sockaddr.cc). Any thread.
namespace portwick {

using SockaddrLength = socklen_t;

// From a socket address of family AF_INET or AF_INET6; nothing for another
// family or a `length` too short for the family's structure.
std::optional<Endpoint> FromSockaddr(const sockaddr* address, SockaddrLength length);
// Fills `storage` and returns the length to pass to bind or connect.
SockaddrLength ToSockaddr(const Endpoint& endpoint, sockaddr_storage* storage);
// AF_INET or AF_INET6.
int AddressFamily(Endpoint::Family family);

}  // namespace portwick

#endif  // PORTWICK_BASE_POSIX_SOCKADDR_H_

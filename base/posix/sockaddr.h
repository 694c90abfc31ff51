#ifndef PORTWICK_BASE_POSIX_SOCKADDR_H_
#define PORTWICK_BASE_POSIX_SOCKADDR_H_

#include <sys/socket.h>

#include <optional>

#include "base/endpoint.h"

// Conversions between Endpoint and the POSIX socket address structures, for
// the files that make socket calls. Any thread.
namespace portwick {

// From a socket address of family AF_INET or AF_INET6; nothing for another
// family or a `length` too short for the family's structure.
std::optional<Endpoint> FromSockaddr(const sockaddr* address, socklen_t length);
// Fills `storage` and returns the length to pass to bind or connect.
socklen_t ToSockaddr(const Endpoint& endpoint, sockaddr_storage* storage);
// AF_INET or AF_INET6.
int AddressFamily(Endpoint::Family family);

}  // namespace portwick

#endif  // PORTWICK_BASE_POSIX_SOCKADDR_H_

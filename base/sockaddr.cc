// The conversions of base/posix/sockaddr.h and base/windows/sockaddr.h: the
// structures are the same on both; only the length's type differs.
#if defined(_WIN32)
#include "base/windows/sockaddr.h"
#else
#include "base/posix/sockaddr.h"
#endif

#include <cstring>

namespace portwick {

std::optional<Endpoint> FromSockaddr(const sockaddr* address, SockaddrLength length) {
  if (address->sa_family == AF_INET && length >= static_cast<SockaddrLength>(sizeof(sockaddr_in))) {
    sockaddr_in in4;
    std::memcpy(&in4, address, sizeof in4);
    return Endpoint::FromBytes(Endpoint::Family::kIPv4,
                               reinterpret_cast<const uint8_t*>(&in4.sin_addr),
                               ntohs(in4.sin_port));
  }
  if (address->sa_family == AF_INET6 &&
      length >= static_cast<SockaddrLength>(sizeof(sockaddr_in6))) {
    sockaddr_in6 in6;
    std::memcpy(&in6, address, sizeof in6);
    return Endpoint::FromBytes(Endpoint::Family::kIPv6,
                               reinterpret_cast<const uint8_t*>(&in6.sin6_addr),
                               ntohs(in6.sin6_port), in6.sin6_scope_id);
  }
  return std::nullopt;
}

SockaddrLength ToSockaddr(const Endpoint& endpoint, sockaddr_storage* storage) {
  std::memset(storage, 0, sizeof *storage);
  if (endpoint.family() == Endpoint::Family::kIPv4) {
    sockaddr_in in4{};
    in4.sin_family = AF_INET;
    in4.sin_port = htons(endpoint.port());
    std::memcpy(&in4.sin_addr, endpoint.address_bytes(), 4);
    std::memcpy(storage, &in4, sizeof in4);
    return sizeof in4;
  }
  sockaddr_in6 in6{};
  in6.sin6_family = AF_INET6;
  in6.sin6_port = htons(endpoint.port());
  std::memcpy(&in6.sin6_addr, endpoint.address_bytes(), 16);
  in6.sin6_scope_id = endpoint.scope_id();
  std::memcpy(storage, &in6, sizeof in6);
  return sizeof in6;
}

int AddressFamily(Endpoint::Family family) {
  return family == Endpoint::Family::kIPv4 ? AF_INET : AF_INET6;
}

}  // namespace portwick

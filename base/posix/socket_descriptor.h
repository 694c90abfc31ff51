#ifndef PORTWICK_BASE_POSIX_SOCKET_DESCRIPTOR_H_
#define PORTWICK_BASE_POSIX_SOCKET_DESCRIPTOR_H_

#include "base/socket_handle.h"

namespace portwick {

// A socket's descriptor, for POSIX calls: on POSIX a SocketHandle holds one.
inline int Descriptor(SocketHandle socket) { return static_cast<int>(socket); }

}  // namespace portwick

#endif  // PORTWICK_BASE_POSIX_SOCKET_DESCRIPTOR_H_

#ifndef PORTWICK_BASE_SOCKET_HANDLE_H_
#define PORTWICK_BASE_SOCKET_HANDLE_H_

#include <cstdint>

namespace portwick {

// A socket as the system names it: a descriptor on POSIX, a SOCKET (a
// pointer-wide unsigned number) on Windows. Wide enough for either, and
// signed, so calls that make a socket can return it or a negated errno.
// Files (pipes, the log file) keep their own types. A plain value: whoever
// holds a Socket (engine/socket.h) owns the socket, not the number.
using SocketHandle = intptr_t;

// No socket: -1 as a descriptor, INVALID_SOCKET (all bits set) on Windows.
inline constexpr SocketHandle kInvalidSocket = -1;

}  // namespace portwick

#endif  // PORTWICK_BASE_SOCKET_HANDLE_H_

#ifndef PORTWICK_ENGINE_SOCKET_OPS_H_
#define PORTWICK_ENGINE_SOCKET_OPS_H_

#include <netinet/in.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Thin wrappers over the POSIX socket calls the engine uses. Every descriptor
// is created close-on-exec, every call is retried on EINTR, and results come
// back as values: a negative number is the negated errno. Any thread may call
// them; none of them closes a descriptor except Close().
namespace portwick::sockets {

// A new blocking IPv4 TCP socket, or -errno.
int CreateTcpSocket();

// Lets a restarted listener bind a port that still has connections in
// TIME_WAIT. It does not allow two sockets to listen on one port.
int SetReuseAddress(int fd);
int SetNoDelay(int fd);

// Binds to INADDR_ANY and the low 16 bits of `port`.
int BindAny(int fd, int port);
int BindLoopback(int fd, int port);
int Listen(int fd, int backlog);

// Accepts one connection (close-on-exec); the peer address is not kept.
// Returns the new descriptor or -errno.
int Accept(int listen_fd);

// Connects to `address` (network byte order) and the low 16 bits of `port`.
// Blocks until the connection is made or has failed. 0 or -errno.
int Connect(int fd, in_addr_t address, int port);

// The local port a bound socket has, or -errno.
int LocalPort(int fd);

ssize_t Recv(int fd, char* buffer, size_t length);
// One send call with MSG_NOSIGNAL: a peer that has gone yields -EPIPE instead
// of killing the process.
ssize_t Send(int fd, const char* data, size_t length);
// Sends every byte; 0, or -errno of the failed call.
int SendAll(int fd, const char* data, size_t length);

// Ends the sending side: the peer reads end-of-stream once it has the rest.
int ShutdownWrite(int fd);
// Ends both sides and wakes a thread blocked in accept, recv or connect on
// `fd` without closing the descriptor.
int ShutdownBoth(int fd);

// Aborts a TCP connection without closing the descriptor: the peer sees a
// reset (RST), and threads blocked in recv, send or connect on `fd` wake with
// an error. Safe on a socket in any state.
void ResetConnection(int fd);

// Closes `fd`. Only the last user of a descriptor may call it.
void Close(int fd);

// Resolves `host` to an IPv4 address (network byte order): a dotted address
// is taken as it is; anything else, 255.255.255.255 included (it can't be
// told from a failed conversion), goes to name resolution, which takes the
// first IPv4 address. False when nothing is found.
bool ResolveIPv4(const std::string& host, in_addr_t* address);

// The human-readable text for an errno value (positive or negated).
std::string ErrorText(int error);

}  // namespace portwick::sockets

#endif  // PORTWICK_ENGINE_SOCKET_OPS_H_

#ifndef PORTWICK_ENGINE_SOCKET_OPS_H_
#define PORTWICK_ENGINE_SOCKET_OPS_H_

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/endpoint.h"
#include "base/socket_handle.h"
#include "base/status.h"

// Thin wrappers over the socket calls the engine uses, implemented per
// platform (engine/posix/socket_ops.cc, engine/windows/socket_ops.cc). Every
// socket is created close-on-exec, every call is retried on EINTR, and
// results come back as values: a negative number is the negated errno (a
// call that makes a socket returns its handle or that). Any thread may call
// them; none of them closes a socket except Close().
namespace portwick::sockets {

// The positive errno of a failed call that makes a socket (its result < 0).
inline int ErrorOf(SocketHandle failed) { return static_cast<int>(-failed); }

// The system's largest listen queue, for Listen.
extern const int kMaxBacklog;

// A new blocking TCP socket of `family`, or -errno.
SocketHandle CreateTcpSocket(Endpoint::Family family = Endpoint::Family::kIPv4);

// Lets a restarted listener bind a port that still has connections in
// TIME_WAIT. It does not allow two sockets to listen on one port.
int SetReuseAddress(SocketHandle fd);
int SetNoDelay(SocketHandle fd);

// Binds to `endpoint`; the socket must be of the endpoint's family. On every
// IPv6 interface ("::") the socket is made dual-stack first (IPV6_V6ONLY
// off), so it takes IPv4 clients too.
int Bind(SocketHandle fd, const Endpoint& endpoint);
// Binds an IPv4 socket to 127.0.0.1 and the low 16 bits of `port`.
int BindLoopback(SocketHandle fd, int port);
int Listen(SocketHandle fd, int backlog);

// Accepts one connection (close-on-exec) and, when `peer` is not null, stores
// the client's address there. Returns the new descriptor or -errno.
SocketHandle Accept(SocketHandle listen_fd, Endpoint* peer = nullptr);

// What a failed Accept's errno means for a listener: wait and try again (no
// descriptors or memory), lose only that connection, or stop accepting.
enum class AcceptFailure { kRetryLater, kSkip, kEnd };
AcceptFailure ClassifyAcceptError(int error);

// Connects to `endpoint`; the socket must be of the endpoint's family.
// Blocks until the connection is made or has failed. 0 or -errno.
int Connect(SocketHandle fd, const Endpoint& endpoint);

// The socket's own address and its peer's; 0 or -errno.
int LocalEndpoint(SocketHandle fd, Endpoint* endpoint);
int PeerEndpoint(SocketHandle fd, Endpoint* endpoint);
// The local port a bound socket has, or -errno.
int LocalPort(SocketHandle fd);

ssize_t Recv(SocketHandle fd, char* buffer, size_t length);
// As Recv, but never waits: -EAGAIN when no byte is there yet.
ssize_t RecvIfReady(SocketHandle fd, char* buffer, size_t length);
// One send call with MSG_NOSIGNAL: a peer that has gone yields -EPIPE instead
// of killing the process. With `ends_piece` the bytes end a piece: later
// bytes don't join their segment (MSG_EOR), so a sliced direction's pieces
// reach the peer as segments of their own (where the system offers it;
// Windows sends them as usual).
ssize_t Send(SocketHandle fd, const char* data, size_t length, bool ends_piece = false);
// Sends every byte; 0, or -errno of the failed call.
int SendAll(SocketHandle fd, const char* data, size_t length);

// Moves up to `length` bytes from `from` to `to` inside the kernel; one of
// the two must be a pipe. Blocks as a receive or send on the socket would
// (a receive time-out shows as -EAGAIN). Returns the bytes moved, 0 at the
// end of the stream, or -errno. A send towards a peer that has gone raises
// SIGPIPE for the calling thread: call BlockSigpipe() first.
ssize_t Splice(int from, int to, size_t length);

// A wait without limit, for the waits below.
inline constexpr std::chrono::nanoseconds kNoTimeLimit{-1};

// Waits at most `timeout` (kNoTimeLimit: without limit) until `fd` has
// bytes to read, the end of the stream, an error or a reset. 1 when it
// has, 0 when the time ran out, or -errno. The time-out is kept to the
// microsecond where the system allows (a delay condition's timing rests
// on it).
int WaitReadable(SocketHandle fd, std::chrono::nanoseconds timeout = kNoTimeLimit);

// Makes a blocking receive on `fd` (recv or splice) give up with EAGAIN after
// `milliseconds` without data; 0 waits without limit. 0 or -errno.
int SetReceiveTimeout(SocketHandle fd, int milliseconds);

// Makes a blocking send or connect on `fd` give up after `milliseconds`
// (a connect then fails with -EINPROGRESS); 0 waits without limit.
int SetSendTimeout(SocketHandle fd, int milliseconds);

// Waits at most `timeout` (kNoTimeLimit: without limit), as exactly as
// WaitReadable, for an error or a hang-up on `fd` (its connection reset,
// both sides shut); readable bytes don't end the wait. 1 when one came, 0
// when the time ran out, or -errno.
int WaitForHangUp(SocketHandle fd, std::chrono::nanoseconds timeout);

// Bytes sent on `fd` that its peer has not acknowledged yet, or -errno.
int UnsentBytes(SocketHandle fd);

// Blocks SIGPIPE for the calling thread (once per thread; cheap after that),
// so a send that can't say MSG_NOSIGNAL (splice) fails with EPIPE instead.
void BlockSigpipe();
// Drops a SIGPIPE pending for the calling thread after such a send failed.
void DiscardPendingSigpipe();

// Ends the sending side: the peer reads end-of-stream once it has the rest.
int ShutdownWrite(SocketHandle fd);
// Ends the receiving side: a receive, also one blocked now, reads
// end-of-stream.
int ShutdownRead(SocketHandle fd);
// Ends both sides and wakes a thread blocked in accept, recv or connect on
// `fd` without closing the descriptor.
int ShutdownBoth(SocketHandle fd);

// True when the TCP connection on `fd` is closed without the orderly
// ending's wait (TCP_CLOSE): after a reset, or after the FIN both ways once
// this side had shut its sending side (Windows: after a reset only). False
// for other sockets or on error.
bool IsClosedState(SocketHandle fd);

// Aborts a TCP connection without closing the descriptor: the peer sees a
// reset (RST), and threads blocked in recv, send or connect on `fd` wake with
// an error. Safe on a socket in any state. (Winsock can't abort an open
// socket: there the reset leaves when the socket is closed.)
void ResetConnection(SocketHandle fd);

// Closes `fd`. Only the last user of a descriptor may call it.
void Close(SocketHandle fd);

// Every address of `host`, with `port`, in the order to try them:
// - "" means this machine: its loopback addresses;
// - a dotted IPv4 address is taken as it is, without a lookup;
// - an IPv6 literal, with or without brackets ("[::1]", "fe80::1%lo"), too;
// - anything else is looked up for IPv4 and IPv6 addresses alike
//   (255.255.255.255 included: it can't be told from a failed conversion).
// On failure the status has the step "resolve" and the resolver's reason.
Status Resolve(const std::string& host, uint16_t port, std::vector<Endpoint>* endpoints);

// The human-readable text for an errno value (positive or negated).
std::string ErrorText(int error);

}  // namespace portwick::sockets

#endif  // PORTWICK_ENGINE_SOCKET_OPS_H_

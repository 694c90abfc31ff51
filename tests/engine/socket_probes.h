#ifndef PORTWICK_TESTS_ENGINE_SOCKET_PROBES_H_
#define PORTWICK_TESTS_ENGINE_SOCKET_PROBES_H_

#include <optional>
#include <vector>

#include "base/endpoint.h"
#include "base/socket_handle.h"

// The few socket calls tests make beside engine/socket_ops.h: waiting with
// a time-out, non-blocking connects, and looking at a socket from outside.
// One twin per platform (posix/, windows/). Any thread; none of them closes
// or takes over a socket.
namespace portwick::testing {

// Waits up to `milliseconds` for `fd` to be readable (bytes, an end or an
// error) or writable: > 0 ready, 0 timed out, < 0 -errno (-EINTR: again).
int WaitReadableFor(SocketHandle fd, int milliseconds);
int WaitWritableFor(SocketHandle fd, int milliseconds);

// Makes `fd` non-blocking and starts a connect to `endpoint`: true when it
// is under way or done.
bool StartConnect(SocketHandle fd, const Endpoint& endpoint);
// Makes a socket blocking again.
void SetBlocking(SocketHandle fd);

// True when the next receive on `fd` would read the end of the stream now.
// Never waits.
bool EndOfStreamIsReadable(SocketHandle fd);

// True when a receive on `fd` that read the end of the stream met a reset
// instead (Wine's recv reads a reset that came before it as the end; its
// WSAPoll still shows the error). Always false on POSIX.
bool EndWasAReset(SocketHandle fd);

// True while `fd` names an open socket (false once it was closed).
bool SocketIsOpen(SocketHandle fd);
// Whether TCP_NODELAY is set on `fd`; nothing when it can't be read.
std::optional<bool> NoDelayIsSet(SocketHandle fd);
// Every socket this process holds open.
std::vector<SocketHandle> OpenSockets();

// A local IPv4 address other than loopback, if the machine has one.
std::optional<Endpoint> OtherLocalIPv4();

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_ENGINE_SOCKET_PROBES_H_

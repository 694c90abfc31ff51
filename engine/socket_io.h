#ifndef PORTWICK_ENGINE_SOCKET_IO_H_
#define PORTWICK_ENGINE_SOCKET_IO_H_

#include <sys/types.h>

#include <cstddef>

#include "base/endpoint.h"
#include "base/socket_handle.h"

namespace portwick {

// The data calls a relay pump makes on its sockets (receive and send, or
// splice through a pipe), and the listener's accept, behind an interface so tests can inject short
// or failing sends and failing accepts. Results as in socket_ops.h: a byte count or descriptor, or
// the negated errno.
//
// Thread safety: implementations are called from many threads at once.
class SocketIo {
 public:
  virtual ~SocketIo() = default;

  virtual ssize_t Recv(SocketHandle fd, char* buffer, size_t length) = 0;
  // As Recv, but -EAGAIN instead of waiting. Here always -EAGAIN, so a test
  // double waits in its Recv for every receive; the real call asks the
  // socket.
  virtual ssize_t RecvIfReady(SocketHandle fd, char* buffer, size_t length);
  // May send fewer bytes than asked; the caller sends the rest.
  virtual ssize_t Send(SocketHandle fd, const char* data, size_t length) = 0;
  // As Send, for a piece a traffic condition made: the real call keeps it
  // in segments of its own (sockets::Send's `ends_piece`); here it is Send,
  // so a test double sees it there.
  virtual ssize_t SendPiece(SocketHandle fd, const char* data, size_t length);
  // As sockets::Accept.
  virtual SocketHandle Accept(SocketHandle listen_fd, Endpoint* peer);
  // As sockets::Splice, between descriptors (one of them a pipe's; only
  // the Linux relay splices). Refused here (-EINVAL), so a test double relays
  // through its Recv and Send unless it offers splicing itself; the real
  // calls splice.
  virtual ssize_t Splice(int from, int to, size_t length);

  // The real socket calls; lives for the whole process.
  static SocketIo& Default();
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_SOCKET_IO_H_

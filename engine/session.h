#ifndef PORTWICK_ENGINE_SESSION_H_
#define PORTWICK_ENGINE_SESSION_H_

#include "engine/socket.h"
#include "engine/socket_layer.h"

namespace portwick {

// The two connections of one session: the accepted client socket and the
// outgoing socket to the destination. The connector and then the two relay
// pumps share it through std::shared_ptr; whoever drops the last reference
// closes both sockets, so each is closed exactly once and only when no
// thread can use it any more.
//
// The session is registered with the socket layer for its whole life, so the
// layer's last Cleanup resets it.
//
// Thread safety: every method may be called from any thread.
class Session {
 public:
  // Takes ownership of both sockets. `layer` must outlive the session.
  Session(SocketLayer* layer, Socket client, Socket destination);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() = default;

  int client_fd() const { return client_.fd(); }
  int destination_fd() const { return destination_.fd(); }

  // Ends the session at once: both connections are reset (each peer sees a
  // reset) and threads blocked on either socket wake. Idempotent.
  void Reset() { registration_.Cancel(); }

  // True after Reset, after the layer's last Cleanup, or when the layer had
  // no reference when the session was made.
  bool cancelled() const { return registration_.cancelled(); }

  // Passes a half-close on: the peer on `fd` (one of the two sockets) reads
  // end-of-stream once it has everything sent before.
  void EndSending(int fd);

 private:
  Socket client_;
  Socket destination_;
  // Declared after the sockets, so it unregisters before they close.
  SocketLayer::Registration registration_;
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_SESSION_H_

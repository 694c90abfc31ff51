#ifndef PORTWICK_ENGINE_SOCKET_LAYER_H_
#define PORTWICK_ENGINE_SOCKET_LAYER_H_

#include "base/mutex.h"
#include "base/socket_handle.h"

namespace portwick {

// The counted start-up of a set of connections, and the connections that
// depend on it. Every listener run has a layer of its own, so stopping one
// listener resets exactly its sessions.
//
// A listener's Start takes one reference (Startup) on its run's layer and its
// accept thread gives it back when it ends (Cleanup). When the last reference is
// given back, every registered connection is reset: both peers of an open
// session see a reset, relay threads blocked on its sockets wake, and a
// connector still resolving or connecting fails. While no reference is
// outstanding a new Registration is cancelled from the start, so a connector
// begun after the last Cleanup fails at once, until the next Startup.
//
// Thread safety: every method may be called from any thread.
class SocketLayer {
 public:
  // Up to two sockets (a session's accepted and outgoing one) that the layer
  // resets on its last Cleanup. Registers itself on construction and
  // unregisters on destruction, which must happen before its descriptors are
  // closed. Not copyable or movable. The layer must outlive it.
  class Registration {
   public:
    Registration(SocketLayer* layer, SocketHandle first_fd, SocketHandle second_fd);
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    ~Registration();

    // Marks the registration cancelled and resets its sockets (both peers
    // see a reset; threads blocked on them wake). Idempotent.
    void Cancel();
    // True once cancelled by Cancel, by the layer's last Cleanup, or because
    // the layer had no reference when the registration was made.
    bool cancelled() const;

    // Replaces the second socket (the outgoing one, while a connector tries
    // one address after another). When already cancelled, `fd` is reset at
    // once. The caller closes the old descriptor only after this returns.
    void SetSecondSocket(SocketHandle fd);

   private:
    friend class SocketLayer;
    void ResetSockets() const EXCLUSIVE_LOCKS_REQUIRED(layer_->mutex_);

    SocketLayer* const layer_;
    SocketHandle fds_[2] GUARDED_BY(layer_->mutex_);
    bool linked_ GUARDED_BY(layer_->mutex_) = false;
    bool cancelled_ GUARDED_BY(layer_->mutex_) = false;
    Registration* prev_ GUARDED_BY(layer_->mutex_) = nullptr;
    Registration* next_ GUARDED_BY(layer_->mutex_) = nullptr;
  };

  SocketLayer() = default;
  SocketLayer(const SocketLayer&) = delete;
  SocketLayer& operator=(const SocketLayer&) = delete;
  // Every Registration must be gone.
  ~SocketLayer() = default;

  void Startup() LOCKS_EXCLUDED(mutex_);
  // Gives one reference back; ignored when none is outstanding.
  void Cleanup() LOCKS_EXCLUDED(mutex_);
  int references() const LOCKS_EXCLUDED(mutex_);
  int registrations() const LOCKS_EXCLUDED(mutex_);

  // Registrations of every layer in the process (for tests that wait until
  // the sessions of earlier tests are gone).
  static int LiveRegistrations();

 private:
  mutable Mutex mutex_;
  int references_ GUARDED_BY(mutex_) = 0;
  int registrations_ GUARDED_BY(mutex_) = 0;
  Registration* head_ GUARDED_BY(mutex_) = nullptr;
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_SOCKET_LAYER_H_

#include "engine/socket_layer.h"

#include <atomic>

#include "engine/socket_ops.h"

namespace portwick {

namespace {
std::atomic<int> live_registrations{0};
}  // namespace

SocketLayer::Registration::Registration(SocketLayer* layer, SocketHandle first_fd,
                                        SocketHandle second_fd)
    : layer_(layer), fds_{first_fd, second_fd} {
  MutexLock lock(&layer_->mutex_);
  if (layer_->references_ == 0) {
    cancelled_ = true;
    return;
  }
  next_ = layer_->head_;
  if (next_ != nullptr) next_->prev_ = this;
  layer_->head_ = this;
  linked_ = true;
  ++layer_->registrations_;
  live_registrations.fetch_add(1, std::memory_order_relaxed);
}

SocketLayer::Registration::~Registration() {
  MutexLock lock(&layer_->mutex_);
  if (!linked_) return;
  if (prev_ != nullptr) {
    prev_->next_ = next_;
  } else {
    layer_->head_ = next_;
  }
  if (next_ != nullptr) next_->prev_ = prev_;
  --layer_->registrations_;
  live_registrations.fetch_sub(1, std::memory_order_relaxed);
}

void SocketLayer::Registration::Cancel() {
  MutexLock lock(&layer_->mutex_);
  cancelled_ = true;
  ResetSockets();
}

bool SocketLayer::Registration::cancelled() const {
  MutexLock lock(&layer_->mutex_);
  return cancelled_;
}

void SocketLayer::Registration::SetSecondSocket(SocketHandle fd) {
  MutexLock lock(&layer_->mutex_);
  fds_[1] = fd;
  if (cancelled_ && fd >= 0) sockets::ResetConnection(fd);
}

void SocketLayer::Registration::ResetSockets() const {
  // Called with the layer's mutex held, so the owner's destructor (which
  // unregisters under the same mutex before closing) can't close them now.
  for (SocketHandle fd : fds_) {
    if (fd >= 0) sockets::ResetConnection(fd);
  }
}

void SocketLayer::Startup() {
  MutexLock lock(&mutex_);
  ++references_;
}

void SocketLayer::Cleanup() {
  MutexLock lock(&mutex_);
  if (references_ == 0) return;
  if (--references_ > 0) return;
  for (Registration* r = head_; r != nullptr; r = r->next_) {
    r->layer_->mutex_.AssertHeld();  // every registration in the list is ours
    r->cancelled_ = true;
    r->ResetSockets();
  }
}

int SocketLayer::references() const {
  MutexLock lock(&mutex_);
  return references_;
}

int SocketLayer::registrations() const {
  MutexLock lock(&mutex_);
  return registrations_;
}

int SocketLayer::LiveRegistrations() { return live_registrations.load(std::memory_order_relaxed); }

}  // namespace portwick

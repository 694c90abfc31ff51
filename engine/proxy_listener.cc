#include "engine/proxy_listener.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "base/mutex.h"
#include "engine/session_connector.h"
#include "engine/session_request.h"
#include "engine/socket.h"
#include "engine/socket_layer.h"
#include "engine/socket_ops.h"

namespace portwick {

namespace {

constexpr int kBacklog = 5;
// How long the accept thread pauses after accept failed for lack of
// descriptors or memory, before it tries again.
constexpr std::chrono::milliseconds kResourcePause{20};

enum class AcceptFailure { kRetryLater, kSkip, kEnd };

AcceptFailure ClassifyAcceptError(int error) {
  switch (error) {
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return AcceptFailure::kRetryLater;
    // The connection went away before it was accepted, or a network error
    // was reported for it: only that connection is lost.
    case ECONNABORTED:
    case EPROTO:
    case EPERM:
    case EAGAIN:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ETIMEDOUT:
      return AcceptFailure::kSkip;
    default:  // EINVAL once the socket is shut down, EBADF, ...
      return AcceptFailure::kEnd;
  }
}

}  // namespace

// What the owner thread and the accept thread share. The accept thread holds
// a reference while it runs; Stop and the destructor join it before the
// listening socket is closed.
struct ProxyListener::State {
  SocketLayer* const layer = &SocketLayer::Default();

  std::atomic<bool> running{false};

  // Owner thread only, except that the accept thread reads the descriptor
  // while it runs (the owner only shuts it down then, never closes it).
  Socket listen_socket;
  std::thread accept_thread;
  int bound_port = 0;

  Mutex mutex;
  CondVar wake{&mutex};  // ends the accept thread's pause at Stop
  int destination_port GUARDED_BY(mutex) = 0;
  std::string destination_host GUARDED_BY(mutex);
  std::shared_ptr<LogSinkHandle> log_sink GUARDED_BY(mutex);

  void AcceptLoop();
  void HandOn(int fd);
};

void ProxyListener::State::AcceptLoop() {
  const int listen_fd = listen_socket.fd();
  while (running.load()) {
    const int fd = sockets::Accept(listen_fd);
    if (!running.load()) {
      // Accepted in the instant after Stop: not relayed.
      if (fd >= 0) sockets::Close(fd);
      break;
    }
    if (fd >= 0) {
      HandOn(fd);
      continue;
    }
    const AcceptFailure failure = ClassifyAcceptError(-fd);
    if (failure == AcceptFailure::kRetryLater) {
      MutexLock lock(&mutex);
      if (running.load()) wake.WaitFor(kResourcePause);
    } else if (failure == AcceptFailure::kEnd) {
      running.store(false);
    }
  }
  layer->Cleanup();
}

void ProxyListener::State::HandOn(int fd) {
  Socket accepted(fd);
  try {
    auto request = std::make_unique<SessionRequest>();
    request->accepted_socket = std::move(accepted);
    request->layer = layer;
    {
      MutexLock lock(&mutex);
      request->destination_port = destination_port;
      request->destination_host = destination_host;
      request->log_sink = log_sink;
    }
    // On failure the request is destroyed, which closes the socket.
    StartSessionConnector(std::move(request));
  } catch (const std::bad_alloc&) {
    // The socket is closed by whichever owner holds it now.
  }
}

ProxyListener::ProxyListener() : state_(std::make_shared<State>()) {}

ProxyListener::~ProxyListener() { Stop(); }

void ProxyListener::SetLogSink(std::shared_ptr<LogSinkHandle> log_sink) {
  MutexLock lock(&state_->mutex);
  state_->log_sink = std::move(log_sink);
}

bool ProxyListener::Start(int local_port, const std::string& destination_host, int destination_port,
                          std::string* error) {
  State& s = *state_;
  if (s.running.load()) {
    if (error != nullptr) *error = "Already running";
    return false;
  }
  Stop();  // collects an accept thread that ended on its own
  {
    MutexLock lock(&s.mutex);
    s.destination_port = destination_port;
    s.destination_host = destination_host;
  }

  s.layer->Startup();
  // Gives back what this Start took, so that a later Stop ends the sessions.
  auto fail = [&](int result, const char* what) {
    s.listen_socket.Reset();
    s.bound_port = 0;
    s.running.store(false);
    s.layer->Cleanup();
    if (error != nullptr) {
      *error = what;
      if (result != 0) *error += ": " + sockets::ErrorText(result);
    }
    return false;
  };

  int result = sockets::CreateTcpSocket();
  if (result < 0) return fail(result, "Cannot create socket");
  s.listen_socket.Reset(result);
  const int fd = s.listen_socket.fd();
  sockets::SetReuseAddress(fd);
  if ((result = sockets::BindAny(fd, local_port)) < 0) return fail(result, "Cannot bind");
  if ((result = sockets::Listen(fd, kBacklog)) < 0) return fail(result, "Cannot listen");
  result = sockets::LocalPort(fd);
  s.bound_port = result > 0 ? result : 0;

  s.running.store(true);
  try {
    s.accept_thread = std::thread([state = state_] { state->AcceptLoop(); });
  } catch (const std::system_error& e) {
    return fail(-e.code().value(), "Cannot start the accept thread");
  }
  return true;
}

void ProxyListener::Stop() {
  State& s = *state_;
  {
    // Cleared under the mutex so a pausing accept thread can't miss it.
    MutexLock lock(&s.mutex);
    s.running.store(false);
  }
  s.wake.SignalAll();
  // shutdown wakes a thread blocked in accept; close alone would not.
  if (s.listen_socket.valid()) sockets::ShutdownBoth(s.listen_socket.fd());
  if (s.accept_thread.joinable()) s.accept_thread.join();
  s.listen_socket.Reset();
  s.bound_port = 0;
}

bool ProxyListener::IsRunning() const { return state_->running.load(); }

int ProxyListener::BoundPort() const { return state_->running.load() ? state_->bound_port : 0; }

}  // namespace portwick

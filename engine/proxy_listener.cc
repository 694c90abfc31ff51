#include "engine/proxy_listener.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <new>
#include <random>
#include <system_error>
#include <thread>
#include <utility>

#include "base/mutex.h"
#include "engine/descriptor_limit.h"
#include "engine/event_relay.h"
#include "engine/session.h"
#include "engine/session_connector.h"
#include "engine/session_request.h"
#include "engine/socket.h"
#include "engine/socket_layer.h"
#include "engine/socket_ops.h"
#include "engine/zero_copy.h"

namespace portwick {

namespace {

// How long the accept thread pauses when descriptors or memory ran short
// (for the next session's socket or in accept), before it tries again: a
// bounded back-off, short against a session's life, with no busy loop.
constexpr std::chrono::milliseconds kResourcePause{20};

}  // namespace

// What the owner thread and the accept thread share. The accept thread holds
// a reference while it runs; Stop and the destructor join it before the
// listening socket is closed.
struct ProxyListener::State {
  std::atomic<bool> running{false};

  // Owner thread only, except that the accept thread reads the descriptor
  // while it runs (the owner only shuts it down then, never closes it).
  Socket listen_socket;
  std::thread accept_thread;
  Endpoint bound;
  // The layer of the current or last run; the accept thread and every
  // session of the run hold it too.
  std::shared_ptr<SocketLayer> layer;
  // Set by Start before the accept thread starts; then only read by it.
  SocketIo* io = &SocketIo::Default();
  NameResolver* resolver = &NameResolver::Default();
  // Accept thread only (reset by Start before the thread starts).
  SessionId last_session = 0;
  std::mt19937_64 seeds;  // each session's draw of its conditions
  // Made by Start before the accept thread starts, which hands it to every
  // session; SetConditions replaces what it holds.
  std::shared_ptr<LiveConditions> conditions;
  SessionLimits limits;
  // Sessions handed on and not yet ended (counted with a session cap).
  std::shared_ptr<std::atomic<int>> open_sessions = std::make_shared<std::atomic<int>>(0);

  Mutex mutex;
  CondVar wake{&mutex};  // ends the accept thread's pause at Stop
  uint16_t destination_port GUARDED_BY(mutex) = 0;
  std::string destination_host GUARDED_BY(mutex);
  std::shared_ptr<LogSinkHandle> log_sink GUARDED_BY(mutex);
  std::shared_ptr<SessionObserver> observer GUARDED_BY(mutex);

  void AcceptLoop(const std::shared_ptr<SocketLayer>& run_layer);
  void HandOn(SocketHandle fd, const Endpoint& peer, const std::shared_ptr<SocketLayer>& run_layer,
              Socket reserved);
  // After a failure with `error` (an errno value): notes a reached
  // descriptor limit and, when descriptors or memory ran short, pauses
  // (kResourcePause, or until Stop). True when it paused.
  bool PauseWhileShort(int error);
};

bool ProxyListener::State::PauseWhileShort(int error) {
  if (error == EMFILE || error == ENFILE) {
    descriptor_limit::NoteReached(error);
    // Kept pipes hold descriptors that new sessions need more.
    zero_copy::ReleaseIdlePipes();
  }
  if (sockets::ClassifyAcceptError(error) != sockets::AcceptFailure::kRetryLater) return false;
  // Then tries again: a session may have ended and given its descriptors back.
  MutexLock lock(&mutex);
  if (running.load()) wake.WaitFor(kResourcePause);
  return true;
}

void ProxyListener::State::AcceptLoop(const std::shared_ptr<SocketLayer>& run_layer) {
  const SocketHandle listen_fd = listen_socket.fd();
  // The next session's outgoing socket, made before its client is accepted:
  // a connection that can't have one stays in the listen queue instead of
  // being accepted and then reset. Non-blocking for the event relay.
  Socket reserved;
  bool event_relay_takes;
  {
    MutexLock lock(&mutex);
    event_relay_takes = event_relay::TakesSessions(destination_host, io, resolver);
  }
  while (running.load()) {
    // At the cap new connections wait in the listen queue, as at the
    // descriptor limit.
    if (limits.max_sessions != 0 &&
        open_sessions->load() >= static_cast<int>(limits.max_sessions)) {
      MutexLock lock(&mutex);
      if (running.load()) wake.WaitFor(kResourcePause);
      continue;
    }
    if (!reserved.valid()) {
      const SocketHandle made = event_relay::CreateReservedSocket(event_relay_takes);
      if (made >= 0) {
        reserved.Reset(made);
      } else if (PauseWhileShort(sockets::ErrorOf(made))) {
        continue;
      }
      // Other failures (no IPv4 here): the connector makes its own socket.
    }
    Endpoint peer;
    const SocketHandle fd = io->Accept(listen_fd, &peer);
    if (!running.load()) {
      // Accepted in the instant after Stop: not relayed.
      if (fd >= 0) sockets::Close(fd);
      break;
    }
    if (fd >= 0) {
      HandOn(fd, peer, run_layer, std::move(reserved));
      continue;
    }
    const int error = sockets::ErrorOf(fd);
    if (!PauseWhileShort(error) &&
        sockets::ClassifyAcceptError(error) == sockets::AcceptFailure::kEnd) {
      running.store(false);
    }
  }
  // Resets every session of the run that is still open.
  run_layer->Cleanup();
}

void ProxyListener::State::HandOn(SocketHandle fd, const Endpoint& peer,
                                  const std::shared_ptr<SocketLayer>& run_layer, Socket reserved) {
  Socket accepted(fd);
  // Nothing here waits: the connector thread resolves, connects and reports.
  try {
    auto request = std::make_unique<SessionRequest>();
    request->accepted_socket = std::move(accepted);
    request->reserved_socket = std::move(reserved);
    request->identity.id = ++last_session;
    request->identity.client = peer;
    request->identity.seed = seeds();
    request->identity.idle_timeout = limits.idle_timeout;
    request->conditions = conditions;
    request->connect_timeout = limits.connect_timeout;
    if (limits.max_sessions != 0) {
      // Counted from the accept; the count drops when the session (or a
      // request that never became one) lets go of its slot.
      open_sessions->fetch_add(1);
      request->identity.slot =
          std::shared_ptr<void>(nullptr, [count = open_sessions](void*) { count->fetch_sub(1); });
    }
    request->layer = run_layer;
    request->io = io;
    request->resolver = resolver;
    {
      MutexLock lock(&mutex);
      request->destination_port = destination_port;
      request->destination_host = destination_host;
      request->log_sink = log_sink;
      request->identity.observer = observer;
    }
    // Where it can, the event relay connects and relays the session without
    // a thread of its own; else a connector thread does. On failure the
    // request is destroyed, which closes the socket.
    if (!event_relay::StartSession(request)) StartSessionConnector(std::move(request));
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

Status ProxyListener::Start(const ListenerConfig& config) {
  State& s = *state_;
  if (s.running.load()) return Status::Error("start", 0, "Already running");
  Stop();  // collects an accept thread that ended on its own
  {
    MutexLock lock(&s.mutex);
    s.destination_port = config.destination_port;
    s.destination_host = config.destination_host;
    s.log_sink = config.log_sink;
    s.observer = config.observer;
  }
  s.io = config.io;
  s.resolver = config.resolver;
  s.last_session = 0;
  s.seeds.seed(std::random_device()());
  // Always made, so that conditions given while the run goes on reach
  // sessions that began without any.
  s.conditions = std::make_shared<LiveConditions>(config.conditions);
  s.limits = config.limits;

  // A layer of its own for this run: its Cleanup, when the accept thread
  // ends, resets this run's sessions and no others.
  auto layer = std::make_shared<SocketLayer>();
  layer->Startup();
  s.layer = layer;
  auto fail = [&](const char* step, int result) {
    s.listen_socket.Reset();
    s.bound = Endpoint();
    s.running.store(false);
    layer->Cleanup();
    return Status::Error(step, result);
  };

  const SocketHandle made = sockets::CreateTcpSocket(config.bind.family());
  if (made < 0) return fail("socket", -sockets::ErrorOf(made));
  s.listen_socket.Reset(made);
  const SocketHandle fd = s.listen_socket.fd();
  int result;
  sockets::SetReuseAddress(fd);
  // Accepted sockets inherit it: one system call less per connection.
  sockets::SetNoDelay(fd);
  if ((result = sockets::Bind(fd, config.bind)) < 0) return fail("bind", result);
  // The system's largest queue: a burst of connects waits there for the
  // accept thread instead of being dropped.
  if ((result = sockets::Listen(fd, sockets::kMaxBacklog)) < 0) return fail("listen", result);
  if ((result = sockets::LocalEndpoint(fd, &s.bound)) < 0) return fail("listen", result);

  s.running.store(true);
  try {
    s.accept_thread = std::thread([state = state_, layer] { state->AcceptLoop(layer); });
  } catch (const std::system_error& e) {
    return fail("thread", e.code().value());
  }
  return Status();
}

bool ProxyListener::Start(int local_port, const std::string& destination_host, int destination_port,
                          std::string* error) {
  ListenerConfig config;
  config.bind = Endpoint::AnyIPv4(static_cast<uint16_t>(local_port & 0xffff));
  config.destination_host = destination_host;
  config.destination_port = static_cast<uint16_t>(destination_port & 0xffff);
  {
    MutexLock lock(&state_->mutex);
    config.log_sink = state_->log_sink;
  }
  const Status status = Start(config);
  if (!status.ok() && error != nullptr) *error = status.Message();
  return status.ok();
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
  s.bound = Endpoint();
}

void ProxyListener::SetConditions(std::vector<Condition> conditions) {
  if (state_->conditions != nullptr) state_->conditions->Replace(std::move(conditions));
}

bool ProxyListener::IsRunning() const { return state_->running.load(); }

int ProxyListener::BoundPort() const { return state_->running.load() ? state_->bound.port() : 0; }

Endpoint ProxyListener::BoundEndpoint() const {
  return state_->running.load() ? state_->bound : Endpoint();
}

int ProxyListener::SessionCount() const {
  return state_->layer != nullptr ? state_->layer->registrations() : 0;
}

}  // namespace portwick

#ifndef PORTWICK_ENGINE_PROXY_LISTENER_H_
#define PORTWICK_ENGINE_PROXY_LISTENER_H_

#include <memory>
#include <string>

#include "engine/log_sink_handle.h"

namespace portwick {

// Listens on one local TCP port (all IPv4 interfaces, backlog 5) and starts a
// session for every accepted client, relaying it to the destination host and
// port given to Start.
//
// Thread safety: construction, Start, Stop, IsRunning, SetLogSink and
// destruction are called from one owner thread. The accept thread never
// touches the listener after it has been destroyed.
class ProxyListener {
 public:
  ProxyListener();
  ProxyListener(const ProxyListener&) = delete;
  ProxyListener& operator=(const ProxyListener&) = delete;
  // Closes the listening socket; sessions already running go on until the
  // last socket-layer reference is given back.
  virtual ~ProxyListener();

  // The sink every session accepted from now on writes to (may be null: bytes
  // pass unlogged). Read once per accepted connection.
  void SetLogSink(std::shared_ptr<LogSinkHandle> log_sink);

  // Opens the listening socket on the low 16 bits of `local_port` and starts
  // the accept thread. Returns false (and changes nothing) while running, or
  // when the socket can't be opened, bound or put in listening mode;
  // `error` then holds the reason (for example "Address already in use").
  bool Start(int local_port, const std::string& destination_host, int destination_port,
             std::string* error = nullptr);

  // Stops accepting. When the last socket-layer reference is given back (the
  // usual case), every open session is reset on both sides and connectors
  // still resolving or connecting fail.
  void Stop();

  bool IsRunning() const;

  // The port actually listened on (useful when Start was given port 0);
  // 0 when not running.
  int BoundPort() const;

 private:
  struct State;
  std::shared_ptr<State> state_;  // shared with the accept thread
};

}  // namespace portwick

#endif  // PORTWICK_ENGINE_PROXY_LISTENER_H_

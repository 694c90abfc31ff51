#ifndef PORTWICK_APP_CONNECT_FAILURE_REPORTER_H_
#define PORTWICK_APP_CONNECT_FAILURE_REPORTER_H_

#include "base/mutex.h"
#include "engine/session_observer.h"

namespace portwick {

// Reports every failed connect of console mode on standard error, whatever
// the trace shows, as one whole line:
//   Portwick: #3 cannot connect to localhost:2007: Connection refused
// (#2.3 for session 3 of forward 2). `fd` is borrowed. The observer methods
// come from the engine's threads; lines never interleave.
class ConnectFailureReporter : public SessionObserver {
 public:
  explicit ConnectFailureReporter(int fd = 2) : fd_(fd) {}

  bool WantsChunks() const override { return false; }
  void OnConnectFailed(const SessionConnectFailed& event) override LOCKS_EXCLUDED(mutex_);

 private:
  const int fd_;
  Mutex mutex_;  // one line at a time
};

}  // namespace portwick

#endif  // PORTWICK_APP_CONNECT_FAILURE_REPORTER_H_

#include "app/stop_signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <system_error>
#include <thread>

namespace portwick {

namespace {
sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  // A closed terminal (SIGHUP) and Ctrl-\ (SIGQUIT) stop as Ctrl-C does:
  // killed by their default action, the process would lose the queued log.
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGQUIT);
  return set;
}
}  // namespace

bool BlockStopSignals() {
  // Writes to a closed pipe or socket then fail with EPIPE instead of
  // killing the process.
  signal(SIGPIPE, SIG_IGN);
  const sigset_t set = StopSet();
  return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

int WaitForStopSignal() {
  const sigset_t set = StopSet();
  int signal_number = 0;
  // Fails only for an invalid set (glibc retries EINTR itself).
  if (sigwait(&set, &signal_number) != 0) return 0;
  return signal_number;
}

void ExitAtNextStopSignal() {
  try {
    std::thread([] { _exit(128 + WaitForStopSignal()); }).detach();
  } catch (const std::system_error&) {
    // Without the thread a second signal waits for the stop in progress.
  }
}

}  // namespace portwick

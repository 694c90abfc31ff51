// Stop signals (app/stop_signals.h) on Windows: the console's control
// events. Ctrl+C, Ctrl+Break, closing the console window, logging off and
// shutting down all take the same stop path; the handler, which the system
// calls on a thread of its own, only hands the event over to
// WaitForStopSignal. A Linux `kill -INT` on a process under Wine arrives as
// Ctrl+C.
#include "app/stop_signals.h"

#include <windows.h>

#include <condition_variable>
#include <csignal>
#include <mutex>

#include "app/windows/console_events.h"

namespace portwick {

namespace {

// What the console's own handler ends a process with on Ctrl+C or Break.
constexpr UINT kControlCExit = 0xC000013A;

struct StopState {
  std::mutex mutex;
  std::condition_variable arrived;
  int pending = 0;  // the signal number of an event not yet taken, or 0
  bool exit_at_next = false;
};

StopState& State() {
  // Never destroyed: the system may call the handler during exit.
  static StopState* state = new StopState;
  return *state;
}

int SignalNumberOf(unsigned long event) {
  switch (event) {
    case CTRL_C_EVENT:
      return SIGINT;
    case CTRL_BREAK_EVENT:
      return SIGBREAK;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      return SIGTERM;
    default:
      return 0;
  }
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (!DeliverConsoleEvent(event)) return FALSE;
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // Returning ends the process at once, queued log records and all. The
    // stop path ends it instead, while this thread waits (the system grants
    // some seconds for a closed window, more for a shutdown).
    Sleep(INFINITE);
  }
  return TRUE;
}

}  // namespace

bool DeliverConsoleEvent(unsigned long event) {
  const int number = SignalNumberOf(event);
  if (number == 0) return false;
  StopState& state = State();
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.exit_at_next) {
      state.pending = number;
      state.arrived.notify_all();
      return true;
    }
  }
  ExitProcess(kControlCExit);
}

bool BlockStopSignals() { return SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0; }

int WaitForStopSignal() {
  StopState& state = State();
  std::unique_lock<std::mutex> lock(state.mutex);
  state.arrived.wait(lock, [&state] { return state.pending != 0; });
  const int number = state.pending;
  state.pending = 0;
  return number;
}

void ExitAtNextStopSignal() {
  StopState& state = State();
  bool already = false;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.exit_at_next = true;
    already = state.pending != 0;  // came while the first was being taken
  }
  if (already) ExitProcess(kControlCExit);
}

}  // namespace portwick

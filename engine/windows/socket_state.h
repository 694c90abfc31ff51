#ifndef PORTWICK_ENGINE_WINDOWS_SOCKET_STATE_H_
#define PORTWICK_ENGINE_WINDOWS_SOCKET_STATE_H_

#include <winsock2.h>

#include <atomic>
#include <memory>

// What the engine has asked of one socket that Winsock does not keep for a
// waiting call, for engine/windows/socket_ops.cc: its receive and send
// time-outs, and whether its receiving side (ShutdownRead) or the whole
// socket (ShutdownBoth, ResetConnection) has been ended.
//
// Winsock wakes no blocked call for an end: shutdown wakes no recv under
// Wine, a cancel reaches only a call that is already waiting (not one about
// to begin), and a listening socket takes connections after shutdown. So the
// engine's receives, sends and accepts are overlapped calls, and its
// connects event-driven, that wait on one of this state's two events as
// well; both stay set once set: a call begun after an end sees it at once,
// and ending the receiving side leaves sends alone.
namespace portwick::sockets {

class SocketState {
 public:
  // Registers a fresh state for `s`; false when events or memory ran out.
  // Called for every socket CreateTcpSocket or Accept makes.
  static bool Add(SOCKET s);
  // The state of `s`; null for a socket not made by the engine.
  static std::shared_ptr<SocketState> Of(SOCKET s);
  // Forgets `s`: called by Close before the handle is closed (and may be
  // reused). A call still under way keeps its state alive.
  static void Remove(SOCKET s);

  SocketState(HANDLE reading_ended, HANDLE ended);
  SocketState(const SocketState&) = delete;
  SocketState& operator=(const SocketState&) = delete;
  ~SocketState();

  // Ends the receiving side: receives, waiting or to come, read
  // end-of-stream. Sends go on.
  void EndReading();
  // Ends the socket: every call, waiting or to come, gives up; receives
  // fail with a reset when `reset`, else read end-of-stream.
  void End(bool reset);

  bool reading_ended() const { return reading_ended_flag_.load(std::memory_order_acquire); }
  bool ended() const { return ended_flag_.load(std::memory_order_acquire); }
  bool reset() const { return reset_.load(std::memory_order_acquire); }
  // Set by EndReading and by End; what a receive waits on besides its data.
  HANDLE reading_ended_event() const { return reading_ended_; }
  // Set by End; what sends, accepts and connects wait on.
  HANDLE ended_event() const { return ended_; }

  // Milliseconds a receive or a send (a connect too) may wait; 0: no limit.
  std::atomic<DWORD> receive_timeout{0};
  std::atomic<DWORD> send_timeout{0};

 private:
  const HANDLE reading_ended_;  // manual reset: stays set
  const HANDLE ended_;          // manual reset: stays set
  std::atomic<bool> reading_ended_flag_{false};
  std::atomic<bool> ended_flag_{false};
  std::atomic<bool> reset_{false};
};

}  // namespace portwick::sockets

#endif  // PORTWICK_ENGINE_WINDOWS_SOCKET_STATE_H_

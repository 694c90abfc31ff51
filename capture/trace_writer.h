#ifndef PORTWICK_CAPTURE_TRACE_WRITER_H_
#define PORTWICK_CAPTURE_TRACE_WRITER_H_

#include <cstdint>
#include <string>
#include <unordered_map>

#include "capture/session_event_writer.h"
#include "capture/trace_mode.h"

namespace portwick {

// Writes the annotated transcript of a run: one header line per event,
//   HH:MM:SS.uuuuuu #N EVENT
// (local time; N the session's label, "2.3" for session 3 of forward 2),
// and below each chunk's header its bytes as text or hex
// (capture/trace_format.h), every line of them starting with kTraceDataMark
// ("| "), which no event line starts with. The EVENT texts:
//   open from ADDR:PORT
//   connected to ADDR:PORT in X ms
//   cannot connect to HOST:PORT: REASON
//   > K bytes / < K bytes        (client to server / server to client;
//                                 "delayed X ms" after it when held)
//   > cut after K bytes: reset   (or ": fin"; a cut condition acted)
//   > stalled after K bytes      (a stall condition began)
//   half-close > / half-close <
//   closed: HOW; U bytes up, D bytes down, T ms
//
// Output goes to `fd` (borrowed; standard output in console mode), held in a
// buffer until Flush or until the buffer is large. A failed write is not
// retried; the output that failed is dropped.
//
// One thread at a time (a QueuedObserver's worker).
class TraceWriter : public SessionEventWriter {
 public:
  TraceWriter(int fd, TraceMode mode);
  ~TraceWriter() override;

  bool WantsChunks() const override {
    return mode_ == TraceMode::kText || mode_ == TraceMode::kHex;
  }
  void OnOpened(const SessionOpened& event) override;
  void OnConnected(const SessionConnected& event) override;
  void OnConnectFailed(const SessionConnectFailed& event) override;
  void OnChunk(const SessionChunk& event) override;
  void OnHalfClosed(const SessionHalfClosed& event) override;
  void OnConditionActed(const SessionConditionActed& event) override;
  void OnClosed(const SessionClosed& event) override;
  void Flush() override;

  // Whether a write to the descriptor has failed.
  bool write_failed() const { return write_failed_; }

 private:
  // Starts a header line for session `number` of `forward` at `time`, up to
  // the event text.
  void BeginHeader(ForwardNumber forward, SessionId number,
                   std::chrono::system_clock::time_point time);
  void FlushIfLarge();

  const int fd_;
  const TraceMode mode_;
  std::string buffer_;
  bool write_failed_ = false;
  // The FINs seen so far per open session (by CaptureKey), in order:
  // "client FIN, server FIN".
  std::unordered_map<SessionId, std::string> fins_;
};

// "closed: ..." text of a close reason ("reset by client", ...).
const char* CloseReasonText(CloseReason how);

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_TRACE_WRITER_H_

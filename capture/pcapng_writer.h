#ifndef PORTWICK_CAPTURE_PCAPNG_WRITER_H_
#define PORTWICK_CAPTURE_PCAPNG_WRITER_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

#include "base/endpoint.h"
#include "base/status.h"
#include "capture/capture_file.h"
#include "capture/session_event_writer.h"

namespace portwick {

// Writes the sessions of a run into a pcapng file as if each client had
// talked to its destination directly: per session one TCP conversation
// between the client's endpoint and the destination's, with a three-way
// handshake (SYN when the client was accepted, SYN-ACK and ACK when the
// destination answered), the relayed bytes as segments with the sequence
// and acknowledgement numbers both ways (split to fit the largest IP
// packet), a FIN and its ACK for each half-close, and an RST for a reset or
// a stop. Raw IPv4 or IPv6 packets, nanosecond timestamps from the events'
// wall clock. A session whose connect failed leaves no packets.
//
// The file is created (or emptied) for its owner only (mode 0600) by the
// constructor; its section and interface headers are written at once. The
// open never blocks: a FIFO without a reader fails with ENXIO. Packets are
// held in a buffer and written, whole blocks only, at Flush or when the
// buffer is large, so the file is a valid capture after every write. The
// first failed write is reported through `on_failure` (if set), the file is
// cut back to the end of its last whole block (a full disk leaves no torn
// block), and nothing is written after it.
//
// A write waits for as long as the reader of a FIFO or pipe takes, unless
// Abandon is called: then it fails (step "write", ECANCELED).
//
// One thread at a time (a QueuedObserver's worker; construction anywhere),
// except Abandon, which any thread may call while the writer lives and until
// Close.
class PcapngWriter : public SessionEventWriter {
 public:
  using FailureReport = std::function<void(const Status&)>;

  explicit PcapngWriter(const std::string& path, FailureReport on_failure = {});
  PcapngWriter(const PcapngWriter&) = delete;
  PcapngWriter& operator=(const PcapngWriter&) = delete;
  ~PcapngWriter() override;

  // The outcome so far: the open (step "open") or the first failed write
  // (step "write").
  const Status& status() const { return status_; }
  uint64_t packets() const { return packets_; }

  void OnOpened(const SessionOpened& event) override;
  void OnConnected(const SessionConnected& event) override;
  void OnConnectFailed(const SessionConnectFailed& event) override;
  void OnChunk(const SessionChunk& event) override;
  void OnHalfClosed(const SessionHalfClosed& event) override;
  void OnClosed(const SessionClosed& event) override;
  void Flush() override;
  void Abandon() override;
  void Close() override;

 private:
  struct Side {
    Endpoint endpoint;
    uint32_t next_sequence = 0;  // of the next byte (or SYN/FIN) it sends
    uint16_t ip_id = 0;
    bool finished = false;
  };
  struct Conversation {
    Side client;
    Side server;
    EventTime opened;
    bool connected = false;
  };

  void Segment(Conversation& conversation, bool from_client, uint8_t flags, const EventTime& time,
               const char* payload = nullptr, size_t size = 0);
  void AppendBlock(uint32_t type, const std::string& body);
  void WriteOut();
  void Fail(const Status& status);

  std::optional<CaptureFile> file_;  // empty once closed
  // The file's length after the last complete write: whole blocks.
  uint64_t written_ = 0;
  FailureReport on_failure_;
  Status status_;
  std::string buffer_;
  uint64_t packets_ = 0;
  std::unordered_map<SessionId, Conversation> conversations_;  // by CaptureKey
};

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_PCAPNG_WRITER_H_

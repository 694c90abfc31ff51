#ifndef PORTWICK_CAPTURE_CAPTURE_STORE_H_
#define PORTWICK_CAPTURE_CAPTURE_STORE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/endpoint.h"
#include "base/mutex.h"
#include "base/status.h"
#include "capture/captured_chunk.h"
#include "capture/session_label.h"
#include "engine/session_observer.h"

namespace portwick {

enum class CapturedState : uint8_t {
  kConnecting,  // accepted; the outgoing connection is being made
  kOpen,        // relaying both ways
  kHalfClosed,  // one direction has ended with a FIN, the other goes on
  kClosed,      // over; close_reason says how
  kFailed,      // the outgoing connection was never made; failure says why
};

// What the store knows about one session: a copy, taken under the store's
// lock, so its fields agree with each other.
struct CapturedSession {
  SessionId id = 0;  // CaptureKey(forward, number) (capture/session_label.h)
  CapturedState state = CapturedState::kConnecting;

  Endpoint client;       // the client's address and port
  Endpoint listener;     // the local address and port it connected to
  Endpoint destination;  // the address connected to (once connected)
  Endpoint local;        // the outgoing socket's own address (once connected)
  // The destination as configured, for a session whose connect failed.
  std::string destination_host;
  uint16_t destination_port = 0;

  Status failure;  // kFailed: the step and the reason; closed by a cut or idle: what it did
  CloseReason close_reason = CloseReason::kStopped;  // kClosed
  bool client_finished = false;                      // a FIN came from the client
  bool server_finished = false;                      // a FIN came from the destination
  // A stall condition stopped that direction after this many bytes.
  std::optional<uint64_t> up_stalled_after;
  std::optional<uint64_t> down_stalled_after;

  uint64_t bytes_up = 0;    // relayed client to server
  uint64_t bytes_down = 0;  // relayed server to client

  EventTime opened;
  EventTime last_event;  // the latest event of the session
  std::chrono::nanoseconds connect_took{0};
  std::chrono::nanoseconds duration{0};  // once closed or failed

  // Chunks ever captured; the next chunk gets this index.
  uint64_t chunk_count = 0;
  // Index of the oldest chunk still held (chunk_count when none is held).
  uint64_t first_kept_chunk = 0;
  uint64_t bytes_kept = 0;     // captured bytes still held
  uint64_t bytes_dropped = 0;  // relayed bytes the capture dropped or never held

  // The store's sequence number at the session's latest change.
  uint64_t version = 0;

  // The session's forward and its number there, as its events said.
  ForwardNumber forward() const { return ForwardOf(id); }
  SessionId number() const { return NumberOf(id); }

  bool trimmed() const { return bytes_dropped > 0; }
  bool ended() const { return state == CapturedState::kClosed || state == CapturedState::kFailed; }
};

// Store-wide figures, cheap to read (no session is copied).
struct CaptureCounts {
  uint64_t sessions_total = 0;    // sessions opened since the store was made
  uint64_t sessions_open = 0;     // opened and not yet closed
  uint64_t sessions_kept = 0;     // in the session list now
  uint64_t sessions_dropped = 0;  // ended sessions taken off the list to make room
  uint64_t bytes_up = 0;          // relayed client to server, all sessions
  uint64_t bytes_down = 0;        // relayed server to client, all sessions
  uint64_t capture_used = 0;      // memory counted against the limit
  uint64_t capture_limit = 0;
  uint64_t bytes_dropped = 0;  // relayed bytes dropped from the capture, or never held
  uint64_t sequence = 0;       // changes with every event the store takes
};

// A run of a session's chunks, in capture order.
struct ChunkPage {
  bool found = false;             // whether the session is (still) in the store
  uint64_t first_kept_chunk = 0;  // as in CapturedSession, when read
  uint64_t chunk_count = 0;       // as in CapturedSession, when read
  // Consecutive chunks, the first at index max(from_index, first_kept_chunk).
  std::vector<ChunkRef> chunks;
};

// Keeps what happened to the sessions of a run, for a viewer or an exporter:
// each session's lifecycle and the chunks it relayed, with their boundaries,
// direction and time, up to a memory limit.
//
// Memory: each chunk counts its bytes plus kChunkOverhead, each session
// kSessionOverhead. When a chunk would pass the limit, the oldest held
// chunks are dropped first, whole, in the order they came (their session is
// then trimmed and counts the bytes dropped, and stays listed as trimmed).
// Only when no chunk is left do ended sessions leave the list, the oldest
// end first. Open sessions stay listed. A chunk that still doesn't fit (larger than the
// limit, or the room is all taken by open sessions) is not held, and counted
// as dropped.
//
// The relay never waits for room: the lock is held to make room and take
// the space, in blocks of the store's own that are reused once their chunks
// are gone (memory the C library hands each thread from an arena of its own
// would not be reused across threads); the bytes are copied outside the
// lock; then the lock is taken again to publish the chunk. So the chunks
// take the limit, plus the block being filled, plus at most one block for
// each relay that was copying at a given moment (its chunk, published after
// newer ones, keeps its block a while longer).
//
// Thread safety: the observer methods are called by the engine's threads as
// SessionObserver says; the read methods from any thread at the same time.
// Reads copy under the store's one lock (a session list, or references to a
// page of chunks, never the bytes themselves), so a viewer never holds a lock
// that relays wait on for long. Chunk bytes are read through the returned
// references, outside the lock.
class CaptureStore : public SessionObserver {
 public:
  static constexpr uint64_t kDefaultLimit = uint64_t{256} << 20;

  // `limit` in bytes; 0 holds no chunk at all (sessions are still listed,
  // counted as usual).
  explicit CaptureStore(uint64_t limit = kDefaultLimit);
  CaptureStore(const CaptureStore&) = delete;
  CaptureStore& operator=(const CaptureStore&) = delete;
  ~CaptureStore() override;

  // What one held chunk and one listed session count against the limit
  // besides the chunk's bytes.
  static const uint64_t kChunkOverhead;
  static const uint64_t kSessionOverhead;
  // The largest block chunks are laid out in (smaller for small limits).
  static constexpr size_t kMaxBlockSize = size_t{1} << 20;

  // Memory in chunk blocks now, spare ones included (for tests and figures).
  size_t BlockMemory() const;

  // --- Reading (any thread) ---

  CaptureCounts Counts() const LOCKS_EXCLUDED(mutex_);

  // The listed sessions whose version is above `changed_after`, by id; 0
  // gives all of them. A viewer keeps Counts().sequence from before the call
  // and asks with it next time; when sessions_dropped has grown meanwhile it
  // reads all again, as some may have left the list.
  std::vector<CapturedSession> Sessions(uint64_t changed_after = 0) const LOCKS_EXCLUDED(mutex_);
  std::optional<CapturedSession> Session(SessionId id) const LOCKS_EXCLUDED(mutex_);

  // Up to `max_chunks` chunks of session `id` from index `from_index` on,
  // stopping after the chunk that reaches `max_bytes` (at least one chunk is
  // returned when there is one). Chunks before first_kept_chunk have been
  // dropped; asking from chunk_count returns none (nothing new yet).
  ChunkPage Chunks(SessionId id, uint64_t from_index, size_t max_chunks,
                   size_t max_bytes = SIZE_MAX) const LOCKS_EXCLUDED(mutex_);

  // --- SessionObserver ---
  bool WantsChunks() const override { return limit_ > 0; }
  void OnOpened(const SessionOpened& event) override LOCKS_EXCLUDED(mutex_);
  void OnConnected(const SessionConnected& event) override LOCKS_EXCLUDED(mutex_);
  void OnConnectFailed(const SessionConnectFailed& event) override LOCKS_EXCLUDED(mutex_);
  void OnChunk(const SessionChunk& event) override LOCKS_EXCLUDED(mutex_);
  void OnHalfClosed(const SessionHalfClosed& event) override LOCKS_EXCLUDED(mutex_);
  void OnConditionActed(const SessionConditionActed& event) override LOCKS_EXCLUDED(mutex_);
  void OnClosed(const SessionClosed& event) override LOCKS_EXCLUDED(mutex_);

 private:
  struct Record {
    CapturedSession session;
    // Held chunks, oldest first. Their blocks' references belong to their
    // entries in arrivals_, so dropping one never reads its (cold) header.
    std::deque<CapturedChunk*> chunks;
    uint64_t stream_end[2] = {0, 0};  // bytes relayed so far per direction
    bool closed = false;              // SessionClosed has come
  };

  // A held chunk in the order of arrival, for dropping the oldest first.
  struct Arrival {
    Record* record;
    ChunkBlock* block;  // the chunk's block (its reference is this entry's)
    uint32_t size;      // the chunk's bytes
  };

  Record* Find(SessionId id) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // Marks `record` changed by the event being taken.
  void Touch(Record& record, const EventTime& time) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // Drops the oldest items until `need` more bytes fit; false when they
  // can't. `keep` (the session being written) is never taken off the list.
  bool MakeRoom(uint64_t need, const Record* keep) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // Holds `chunk` as the newest of `record`, with its block reference;
  // false when memory is short (the reference is then still the caller's).
  bool Append(Record& record, CapturedChunk* chunk) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // Room for a chunk of `size` bytes in the current block (or a new one);
  // the chunk's reference on its block is counted. Null when memory is short.
  CapturedChunk* Reserve(Direction direction, const EventTime& time, size_t size)
      EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void CountBytes(Record& record, Direction direction, uint64_t size)
      EXCLUSIVE_LOCKS_REQUIRED(mutex_);

  const uint64_t limit_;
  BlockPool* const pool_;  // let go of (Close) by the destructor

  mutable Mutex mutex_;
  ChunkBlock* current_ GUARDED_BY(mutex_) = nullptr;  // being filled; one reference held
  std::unordered_map<SessionId, std::unique_ptr<Record>> records_ GUARDED_BY(mutex_);
  std::deque<Arrival> arrivals_ GUARDED_BY(mutex_);
  std::deque<Record*> ended_ GUARDED_BY(mutex_);  // ended sessions, by their end
  CaptureCounts counts_ GUARDED_BY(mutex_);
};

}  // namespace portwick

#endif  // PORTWICK_CAPTURE_CAPTURE_STORE_H_

#ifndef PORTWICK_UI_SESSIONS_CONVERSATION_LINES_H_
#define PORTWICK_UI_SESSIONS_CONVERSATION_LINES_H_

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture_store.h"

namespace portwick {

// One session's conversation as a list of lines of equal height, for a list
// view that only lays out what it shows: per captured chunk a header line
// (direction as arrow and words, time, length) and its bytes as text lines
// with the console trace's escapes (at most kTextLineBytes bytes each, broken
// after a line feed) or as hex dump lines of 16 bytes. Every line of a chunk
// starts with its direction mark, "> " (client to server) or "< " (server to
// client), so colour is never the only sign. Texts are UTF-8.
//
// Load() takes the chunks the store has got since the last call, a page at a
// time and within a time budget, so a session of hundreds of MiB opens and
// grows without freezing the window's thread, and drops the lines of chunks
// the store no longer holds. It keeps each chunk's place and layout (in text
// mode one offset per line) but not its bytes: a line being drawn, a find or
// a copy reads them from the store, so chunks the store drops are freed at
// once (their lines then show as dropped until the next Load).
//
// Toolkit-neutral; a list model of a toolkit wraps it and passes its
// Observer, which hears of each change before and after it is made.
// One thread (the window's). The store must outlive its use here (SetSession
// with another store or null ends that use); the observer must outlive this.
class ConversationLines {
 public:
  enum class Mode { kText, kHex };
  static constexpr size_t kTextLineBytes = 128;
  static constexpr size_t kHexLineBytes = 16;

  // Rows are numbered from 0 at the time of the call.
  class Observer {
   public:
    virtual ~Observer() = default;
    virtual void BeforeReset() = 0;
    virtual void AfterReset() = 0;
    virtual void BeforeInsert(int first, int last) = 0;
    virtual void AfterInsert() = 0;
    virtual void BeforeRemove(int first, int last) = 0;
    virtual void AfterRemove() = 0;
    // Every line's highlight may have changed.
    virtual void HighlightChanged() = 0;
  };

  explicit ConversationLines(Observer* observer = nullptr);
  ConversationLines(const ConversationLines&) = delete;
  ConversationLines& operator=(const ConversationLines&) = delete;

  // Shows session `id` of `store` (null: nothing), from its oldest held chunk.
  void SetSession(const CaptureStore* store, SessionId id);
  SessionId session() const { return id_; }
  const CaptureStore* store() const { return store_; }
  // Lays the conversation out again in `mode`, loading it anew page by page.
  void SetMode(Mode mode);
  Mode mode() const { return mode_; }

  // Takes new chunks for about `budget` at most; true when more are waiting.
  bool Load(std::chrono::milliseconds budget);

  int line_count() const { return static_cast<int>(end_line_ - base_line_); }

  // A byte of the conversation: the chunk's index in its session and the
  // offset in the chunk.
  struct Place {
    uint64_t chunk = 0;
    size_t offset = 0;
    friend bool operator==(const Place&, const Place&) = default;
  };
  struct Match {
    Place at;
    size_t length = 0;
  };
  // The first match of `needle` after `from` (forward) or the last before it,
  // from the start or the end when `from` is empty. A match may go on into
  // the next chunks of the same direction when they follow on in its stream.
  std::optional<Match> Find(std::string_view needle, std::optional<Place> from, bool forward) const;
  // The line that shows the byte at `place`; -1 when it is not shown.
  int RowOf(const Place& place) const;
  // Loads on while `place` is not shown, for `total` at most; its line then,
  // or -1.
  int LoadUntilShown(const Place& place, std::chrono::milliseconds total);
  // Highlights the bytes of `match` (HighlightOf) in either mode until
  // another session is shown; nullopt clears it.
  void SetHighlight(std::optional<Match> match);

  // The chunk a line belongs to and the range of its bytes the line shows
  // (empty for a header line); no chunk for a row out of range or a chunk
  // the store has dropped.
  struct LineBytes {
    ChunkRef chunk;
    uint64_t chunk_index = 0;
    size_t begin = 0;
    size_t end = 0;
    bool header = false;
  };
  LineBytes BytesOf(int row) const;

  // What line `row` (in range) shows, its direction and whether it is a
  // chunk's header.
  std::string LineText(int row) const;
  Direction DirectionOf(int row) const;
  bool IsHeader(int row) const;
  // The characters [first, last) of LineText(row) that show bytes of the
  // highlighted match, counted in UTF-16 code units as the toolkits count
  // them; nothing on other lines.
  struct Columns {
    int first = 0;
    int last = 0;
  };
  std::optional<Columns> HighlightOf(int row) const;

  // Lines `rows` (any order) for the clipboard: headers as shown, the bytes
  // of the other lines, joined per chunk, as escaped text or as hex pairs
  // ("47 45 54 20"), one line per chunk part.
  std::string CopyText(std::vector<int> rows, bool hex) const;

 private:
  struct Shown {
    uint64_t index = 0;  // the chunk's, in its session
    uint64_t stream_offset = 0;
    size_t size = 0;
    Direction direction = Direction::kClientToServer;
    EventTime time;
    uint64_t first_line = 0;       // absolute number of its header line
    uint64_t lines = 0;            // header and content lines
    std::vector<uint32_t> starts;  // text mode: offset of each content line
  };

  void Reset();
  void LayOut(Shown& shown, const CapturedChunk& chunk) const;
  // The chunk's bytes from the store; empty when it has dropped them.
  ChunkRef Fetch(const Shown& shown) const;
  void DropReleased(uint64_t first_kept_chunk);
  // Position in shown_ of the chunk with that index, or of the line.
  std::optional<size_t> PositionOfChunk(uint64_t chunk_index) const;
  size_t PositionOfLine(uint64_t line) const;
  const Shown& ShownAt(int row) const;
  std::string TextOf(const Shown& shown, uint64_t line_in_chunk) const;
  std::optional<size_t> FirstIn(size_t position, size_t begin, std::string_view needle) const;
  std::optional<size_t> LastIn(size_t position, size_t limit, std::string_view needle) const;
  bool MatchesAt(size_t position, size_t offset, std::string_view needle) const;

  Observer* const observer_;
  const CaptureStore* store_ = nullptr;
  SessionId id_ = 0;
  Mode mode_ = Mode::kText;
  std::deque<Shown> shown_;
  uint64_t base_line_ = 0;  // absolute number of row 0
  uint64_t end_line_ = 0;   // absolute number after the last line
  uint64_t next_chunk_ = 0;
  mutable ChunkRef last_fetched_;  // the chunk read last, kept for its next lines
  // The highlighted bytes: [begin, end) of one direction's stream.
  struct Highlight {
    Direction direction = Direction::kClientToServer;
    uint64_t begin = 0;
    uint64_t end = 0;
  };
  std::optional<Highlight> highlight_;
};

// The number of UTF-16 code units valid UTF-8 `text` takes.
int Utf16Length(std::string_view text);

}  // namespace portwick

#endif  // PORTWICK_UI_SESSIONS_CONVERSATION_LINES_H_

#include "ui/sessions/conversation_lines.h"

#include <algorithm>
#include <cstring>

#include "capture/trace_format.h"

namespace portwick {

namespace {

// The first place of `needle` in the `size` bytes at `data`, or null (memmem,
// which not every C library has).
const char* FindBytes(const char* data, size_t size, std::string_view needle) {
  const size_t at = std::string_view(data, size).find(needle);
  return at == std::string_view::npos ? nullptr : data + at;
}

// A page of chunks asked of the store at a time.
constexpr size_t kPageChunks = 256;
constexpr size_t kPageBytes = size_t{1} << 20;

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

void TextLineStarts(const char* data, size_t size, std::vector<uint32_t>& starts) {
  size_t at = 0;
  while (at < size) {
    starts.push_back(static_cast<uint32_t>(at));
    const size_t window = std::min(size - at, ConversationLines::kTextLineBytes);
    const void* feed = std::memchr(data + at, '\n', window);
    size_t end = feed != nullptr ? static_cast<size_t>(static_cast<const char*>(feed) - data) + 1
                                 : at + window;
    // Never between the bytes of one UTF-8 character.
    if (feed == nullptr && end < size && IsContinuation(data[end])) {
      size_t back = end;
      while (back > at + 1 && end - back < 3 && IsContinuation(data[back])) --back;
      if (!IsContinuation(data[back])) end = back;
    }
    at = end;
  }
}

const char* Mark(Direction direction) {
  return direction == Direction::kClientToServer ? "> " : "< ";
}

// Hears nothing; stands in when no view watches.
class NoObserver : public ConversationLines::Observer {
 public:
  void BeforeReset() override {}
  void AfterReset() override {}
  void BeforeInsert(int, int) override {}
  void AfterInsert() override {}
  void BeforeRemove(int, int) override {}
  void AfterRemove() override {}
  void HighlightChanged() override {}
};

ConversationLines::Observer* OrNone(ConversationLines::Observer* observer) {
  static NoObserver none;
  return observer != nullptr ? observer : &none;
}

}  // namespace

int Utf16Length(std::string_view text) {
  int units = 0;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;  // a character starts
    if (byte >= 0xF0) ++units;           // beyond the BMP: a surrogate pair
  }
  return units;
}

ConversationLines::ConversationLines(Observer* observer) : observer_(OrNone(observer)) {}

void ConversationLines::SetSession(const CaptureStore* store, SessionId id) {
  observer_->BeforeReset();
  if (store != store_ || id != id_) highlight_.reset();
  store_ = store;
  id_ = store != nullptr ? id : 0;
  Reset();
  observer_->AfterReset();
}

void ConversationLines::Reset() {
  shown_.clear();
  last_fetched_ = ChunkRef();
  base_line_ = end_line_ = next_chunk_ = 0;
}

void ConversationLines::SetMode(Mode mode) {
  if (mode == mode_) return;
  mode_ = mode;
  // Loaded anew, page by page, so a large session doesn't hold up the window.
  SetSession(store_, id_);
}

void ConversationLines::LayOut(Shown& shown, const CapturedChunk& chunk) const {
  shown.starts.clear();
  if (mode_ == Mode::kText) {
    TextLineStarts(chunk.data(), chunk.size(), shown.starts);
    shown.starts.shrink_to_fit();
    shown.lines = 1 + shown.starts.size();
  } else {
    shown.lines = 1 + (chunk.size() + kHexLineBytes - 1) / kHexLineBytes;
  }
}

ChunkRef ConversationLines::Fetch(const Shown& shown) const {
  if (last_fetched_ && last_fetched_->index() == shown.index) return last_fetched_;
  if (store_ == nullptr) return {};
  ChunkPage page = store_->Chunks(id_, shown.index, 1);
  if (page.chunks.empty() || page.chunks.front()->index() != shown.index) return {};
  last_fetched_ = std::move(page.chunks.front());
  return last_fetched_;
}

bool ConversationLines::Load(std::chrono::milliseconds budget) {
  if (store_ == nullptr) return false;
  const auto started = std::chrono::steady_clock::now();
  for (;;) {
    ChunkPage page = store_->Chunks(id_, next_chunk_, kPageChunks, kPageBytes);
    if (!page.found) return false;
    DropReleased(page.first_kept_chunk);
    if (page.chunks.empty()) return false;
    std::vector<Shown> added;
    added.reserve(page.chunks.size());
    uint64_t line = end_line_;
    for (const ChunkRef& chunk : page.chunks) {
      Shown shown;
      shown.index = chunk->index();
      shown.stream_offset = chunk->stream_offset();
      shown.size = chunk->size();
      shown.direction = chunk->direction();
      shown.time = chunk->time();
      shown.first_line = line;
      LayOut(shown, *chunk);
      line += shown.lines;
      added.push_back(std::move(shown));
    }
    next_chunk_ = added.back().index + 1;
    observer_->BeforeInsert(static_cast<int>(end_line_ - base_line_),
                            static_cast<int>(line - base_line_) - 1);
    for (Shown& shown : added) shown_.push_back(std::move(shown));
    end_line_ = line;
    observer_->AfterInsert();
    if (std::chrono::steady_clock::now() - started >= budget) return true;
  }
}

int ConversationLines::LoadUntilShown(const Place& place, std::chrono::milliseconds total) {
  // Pages within the budget a refresh has, until the place shows or time is up.
  constexpr std::chrono::milliseconds kPageBudget{30};
  const auto started = std::chrono::steady_clock::now();
  while (RowOf(place) < 0 && Load(kPageBudget) &&
         std::chrono::steady_clock::now() - started < total) {
  }
  return RowOf(place);
}

void ConversationLines::DropReleased(uint64_t first_kept_chunk) {
  size_t gone = 0;
  while (gone < shown_.size() && shown_[gone].index < first_kept_chunk) ++gone;
  if (gone == 0) return;
  last_fetched_ = ChunkRef();
  const uint64_t new_base = gone < shown_.size() ? shown_[gone].first_line : end_line_;
  observer_->BeforeRemove(0, static_cast<int>(new_base - base_line_) - 1);
  shown_.erase(shown_.begin(), shown_.begin() + static_cast<std::ptrdiff_t>(gone));
  base_line_ = new_base;
  observer_->AfterRemove();
}

std::optional<size_t> ConversationLines::PositionOfChunk(uint64_t chunk_index) const {
  auto it =
      std::lower_bound(shown_.begin(), shown_.end(), chunk_index,
                       [](const Shown& shown, uint64_t index) { return shown.index < index; });
  if (it == shown_.end() || it->index != chunk_index) return std::nullopt;
  return static_cast<size_t>(it - shown_.begin());
}

size_t ConversationLines::PositionOfLine(uint64_t line) const {
  auto it = std::upper_bound(shown_.begin(), shown_.end(), line,
                             [](uint64_t l, const Shown& shown) { return l < shown.first_line; });
  return static_cast<size_t>(it - shown_.begin()) - 1;
}

const ConversationLines::Shown& ConversationLines::ShownAt(int row) const {
  return shown_[PositionOfLine(base_line_ + static_cast<uint64_t>(row))];
}

ConversationLines::LineBytes ConversationLines::BytesOf(int row) const {
  if (row < 0 || row >= line_count()) return {};
  const uint64_t line = base_line_ + static_cast<uint64_t>(row);
  const Shown& shown = ShownAt(row);
  const uint64_t in_chunk = line - shown.first_line;
  LineBytes bytes;
  bytes.chunk = Fetch(shown);
  bytes.chunk_index = shown.index;
  if (in_chunk == 0) {
    bytes.header = true;
    return bytes;
  }
  const size_t i = static_cast<size_t>(in_chunk - 1);
  if (mode_ == Mode::kText) {
    bytes.begin = shown.starts[i];
    bytes.end = i + 1 < shown.starts.size() ? shown.starts[i + 1] : shown.size;
  } else {
    bytes.begin = i * kHexLineBytes;
    bytes.end = std::min(shown.size, bytes.begin + kHexLineBytes);
  }
  return bytes;
}

std::string ConversationLines::TextOf(const Shown& shown, uint64_t line_in_chunk) const {
  std::string text = Mark(shown.direction);
  if (line_in_chunk == 0) {
    const bool up = shown.direction == Direction::kClientToServer;
    text += up ? "\u25B6 client \u2192 server  " : "\u25C0 server \u2192 client  ";
    AppendClockTime(text, shown.time.wall);
    text += "  " + ByteCount(shown.size);
    return text;
  }
  const ChunkRef chunk = Fetch(shown);
  if (!chunk) return text + "(dropped from the capture)";
  const size_t i = static_cast<size_t>(line_in_chunk - 1);
  if (mode_ == Mode::kText) {
    const size_t begin = shown.starts[i];
    const size_t end = i + 1 < shown.starts.size() ? shown.starts[i + 1] : shown.size;
    AppendEscapedText(text, chunk->data() + begin, end - begin);
  } else {
    const size_t begin = i * kHexLineBytes;
    AppendHexDump(text, chunk->data() + begin, std::min(kHexLineBytes, shown.size - begin),
                  shown.stream_offset + begin);
  }
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::string ConversationLines::LineText(int row) const {
  const Shown& shown = ShownAt(row);
  return TextOf(shown, base_line_ + static_cast<uint64_t>(row) - shown.first_line);
}

Direction ConversationLines::DirectionOf(int row) const { return ShownAt(row).direction; }

bool ConversationLines::IsHeader(int row) const {
  return base_line_ + static_cast<uint64_t>(row) == ShownAt(row).first_line;
}

void ConversationLines::SetHighlight(std::optional<Match> match) {
  highlight_.reset();
  if (match) {
    if (const std::optional<size_t> position = PositionOfChunk(match->at.chunk)) {
      const Shown& shown = shown_[*position];
      const uint64_t begin = shown.stream_offset + match->at.offset;
      highlight_ = Highlight{shown.direction, begin, begin + match->length};
    }
  }
  observer_->HighlightChanged();
}

std::optional<ConversationLines::Columns> ConversationLines::HighlightOf(int row) const {
  if (!highlight_ || row < 0 || row >= line_count()) return std::nullopt;
  const Shown& shown = ShownAt(row);
  const uint64_t line_in_chunk = base_line_ + static_cast<uint64_t>(row) - shown.first_line;
  if (line_in_chunk == 0 || shown.direction != highlight_->direction) return std::nullopt;
  const size_t i = static_cast<size_t>(line_in_chunk - 1);
  size_t begin, end;
  if (mode_ == Mode::kText) {
    begin = shown.starts[i];
    end = i + 1 < shown.starts.size() ? shown.starts[i + 1] : shown.size;
  } else {
    begin = i * kHexLineBytes;
    end = std::min(shown.size, begin + kHexLineBytes);
  }
  // The match's bytes on this line, as offsets in the chunk.
  const uint64_t from = std::max<uint64_t>(highlight_->begin, shown.stream_offset + begin);
  const uint64_t to = std::min<uint64_t>(highlight_->end, shown.stream_offset + end);
  if (from >= to) return std::nullopt;
  const size_t first = static_cast<size_t>(from - shown.stream_offset);
  const size_t last = static_cast<size_t>(to - shown.stream_offset);
  if (mode_ == Mode::kHex) {
    // "OFFSET" (at least four hex digits), a space, then " hh" per byte
    // with one more space after the eighth (AppendHexDump).
    const uint64_t position = shown.stream_offset + begin;
    int digits = 4;
    while (digits < 16 && (position >> (4 * digits)) != 0) ++digits;
    const auto column = [&](size_t k) {
      return 2 + digits + 1 + 3 * static_cast<int>(k) + 1 + (k >= 8 ? 1 : 0);
    };
    return Columns{column(first - begin), column(last - 1 - begin) + 2};
  }
  const ChunkRef chunk = Fetch(shown);
  if (!chunk) return std::nullopt;
  // As LineText shows them: escaped, without the line break the escaping ends with.
  const auto escaped = [&](size_t part_begin, size_t part_end) {
    std::string part;
    AppendEscapedText(part, chunk->data() + part_begin, part_end - part_begin);
    if (!part.empty() && part.back() == '\n') part.pop_back();
    return part;
  };
  const std::string before = Mark(shown.direction) + escaped(begin, first);
  const std::string text = before + escaped(first, last);
  return Columns{Utf16Length(before), Utf16Length(text)};
}

int ConversationLines::RowOf(const Place& place) const {
  const std::optional<size_t> position = PositionOfChunk(place.chunk);
  if (!position) return -1;
  const Shown& shown = shown_[*position];
  if (place.offset >= shown.size) return -1;
  uint64_t in_chunk;
  if (mode_ == Mode::kText) {
    auto it = std::upper_bound(shown.starts.begin(), shown.starts.end(), place.offset);
    in_chunk = static_cast<uint64_t>(it - shown.starts.begin());
  } else {
    in_chunk = 1 + place.offset / kHexLineBytes;
  }
  return static_cast<int>(shown.first_line + in_chunk - base_line_);
}

bool ConversationLines::MatchesAt(size_t position, size_t offset, std::string_view needle) const {
  ChunkRef chunk = Fetch(shown_[position]);
  size_t matched = 0;
  while (chunk) {
    const size_t n = std::min(needle.size() - matched, chunk->size() - offset);
    if (std::memcmp(chunk->data() + offset, needle.data() + matched, n) != 0) return false;
    matched += n;
    if (matched == needle.size()) return true;
    // Go on in the next chunk of the same direction, if it follows on.
    const Shown& here = shown_[position];
    const uint64_t stream_end = here.stream_offset + here.size;
    size_t next = position + 1;
    while (next < shown_.size() && shown_[next].direction != here.direction) ++next;
    if (next == shown_.size() || shown_[next].stream_offset != stream_end) return false;
    position = next;
    chunk = Fetch(shown_[position]);
    offset = 0;
  }
  return false;
}

std::optional<size_t> ConversationLines::FirstIn(size_t position, size_t begin,
                                                 std::string_view needle) const {
  const ChunkRef held = Fetch(shown_[position]);
  if (!held) return std::nullopt;
  const CapturedChunk& chunk = *held;
  const size_t size = chunk.size();
  if (begin >= size) return std::nullopt;
  if (size - begin >= needle.size()) {
    const char* found = FindBytes(chunk.data() + begin, size - begin, needle);
    if (found != nullptr) {
      return static_cast<size_t>(found - chunk.data());
    }
  }
  // Matches that go on into the next chunk start in the last bytes.
  const size_t tail = size >= needle.size() ? size - needle.size() + 1 : 0;
  for (size_t offset = std::max(begin, tail); offset < size; ++offset) {
    if (MatchesAt(position, offset, needle)) return offset;
  }
  return std::nullopt;
}

std::optional<size_t> ConversationLines::LastIn(size_t position, size_t limit,
                                                std::string_view needle) const {
  const ChunkRef held = Fetch(shown_[position]);
  if (!held) return std::nullopt;
  const CapturedChunk& chunk = *held;
  const size_t size = chunk.size();
  limit = std::min(limit, size);
  const size_t tail = size >= needle.size() ? size - needle.size() + 1 : 0;
  for (size_t offset = limit; offset > tail;) {
    --offset;
    if (MatchesAt(position, offset, needle)) return offset;
  }
  std::optional<size_t> last;
  const size_t end = std::min(limit, tail);  // full matches start before this
  for (size_t at = 0; at < end;) {
    const char* found = FindBytes(chunk.data() + at, end - at + needle.size() - 1, needle);
    if (found == nullptr) break;
    last = static_cast<size_t>(found - chunk.data());
    at = *last + 1;
  }
  return last;
}

std::optional<ConversationLines::Match> ConversationLines::Find(std::string_view needle,
                                                                std::optional<Place> from,
                                                                bool forward) const {
  if (needle.empty() || shown_.empty()) return std::nullopt;
  std::optional<size_t> start;
  if (from) start = PositionOfChunk(from->chunk);
  if (forward) {
    for (size_t p = start.value_or(0); p < shown_.size(); ++p) {
      const size_t begin = start && p == *start ? from->offset + 1 : 0;
      if (auto offset = FirstIn(p, begin, needle)) {
        return Match{{shown_[p].index, *offset}, needle.size()};
      }
    }
    return std::nullopt;
  }
  for (size_t p = start ? *start + 1 : shown_.size(); p-- > 0;) {
    const size_t limit = start && p == *start ? from->offset : SIZE_MAX;
    if (auto offset = LastIn(p, limit, needle)) {
      return Match{{shown_[p].index, *offset}, needle.size()};
    }
  }
  return std::nullopt;
}

std::string ConversationLines::CopyText(std::vector<int> rows, bool hex) const {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  std::string out;
  ChunkRef part_chunk;
  size_t part_begin = 0, part_end = 0;
  auto flush = [&] {
    if (!part_chunk) return;
    const char* data = part_chunk->data() + part_begin;
    const size_t size = part_end - part_begin;
    if (hex) {
      static constexpr char kDigits[] = "0123456789abcdef";
      for (size_t i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        if (i > 0) out += ' ';
        out += kDigits[byte >> 4];
        out += kDigits[byte & 15];
      }
      out += '\n';
    } else {
      AppendEscapedText(out, data, size);
    }
    part_chunk = ChunkRef();
  };
  for (int row : rows) {
    LineBytes line = BytesOf(row);
    if (!line.chunk) continue;
    if (line.header) {
      flush();
      out += TextOf(ShownAt(row), 0) + "\n";
      continue;
    }
    if (part_chunk && line.chunk_index == part_chunk->index() && line.begin == part_end) {
      part_end = line.end;
      continue;
    }
    flush();
    part_chunk = std::move(line.chunk);
    part_begin = line.begin;
    part_end = line.end;
  }
  flush();
  return out;
}

}  // namespace portwick

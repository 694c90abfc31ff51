#include "capture/capture_store.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace portwick {

namespace {

// What malloc adds to each block it hands out (header and rounding).
constexpr uint64_t kMallocOverhead = 16;
// Chunk headers are aligned to this in their block.
constexpr uint64_t kChunkAlignment = 8;
// The smallest block; small limits get blocks of an eighth of the limit.
constexpr size_t kMinBlockSize = size_t{16} << 10;

size_t BlockSizeFor(uint64_t limit) {
  return static_cast<size_t>(
      std::clamp<uint64_t>(limit / 8, kMinBlockSize, CaptureStore::kMaxBlockSize));
}
// An empty std::deque already holds its map and one node; a hash map entry
// its node and bucket.
constexpr uint64_t kDequeOverhead = 512 + 64;
constexpr uint64_t kHashEntryOverhead = 64;

size_t DirectionIndex(Direction direction) {
  return direction == Direction::kClientToServer ? 0 : 1;
}

}  // namespace

const uint64_t CaptureStore::kChunkOverhead =
    sizeof(CapturedChunk) + kChunkAlignment + sizeof(CapturedChunk*) + sizeof(Arrival);
const uint64_t CaptureStore::kSessionOverhead =
    sizeof(Record) + kMallocOverhead + kDequeOverhead + kHashEntryOverhead + sizeof(Record*);

CaptureStore::CaptureStore(uint64_t limit)
    : limit_(limit), pool_(BlockPool::Create(BlockSizeFor(limit))) {
  MutexLock lock(&mutex_);
  counts_.capture_limit = limit;
}

CaptureStore::~CaptureStore() {
  {
    MutexLock lock(&mutex_);
    for (const Arrival& arrival : arrivals_) arrival.block->Unref();
    arrivals_.clear();
    ended_.clear();
    records_.clear();
    if (current_ != nullptr) current_->Unref();
    current_ = nullptr;
  }
  pool_->Close();
}

size_t CaptureStore::BlockMemory() const { return pool_->blocks() * pool_->block_size(); }

CapturedChunk* CaptureStore::Reserve(Direction direction, const EventTime& time, size_t size) {
  const size_t footprint = CapturedChunk::Footprint(size);
  ChunkBlock* block = nullptr;
  if (footprint > pool_->block_size()) {
    block = BlockPool::TakeLarge(footprint);
    if (block == nullptr) return nullptr;
  } else {
    if (current_ == nullptr || current_->capacity() - current_->used < footprint) {
      ChunkBlock* fresh = pool_->Take();
      if (fresh == nullptr) return nullptr;
      fresh->Ref();
      if (current_ != nullptr) current_->Unref();
      current_ = fresh;
    }
    block = current_;
  }
  char* at = block->bytes() + block->used;
  block->used += footprint;
  block->Ref();  // the chunk's
  return new (at) CapturedChunk(block, direction, time, size);
}

CaptureCounts CaptureStore::Counts() const {
  MutexLock lock(&mutex_);
  return counts_;
}

std::vector<CapturedSession> CaptureStore::Sessions(uint64_t changed_after) const {
  std::vector<CapturedSession> sessions;
  MutexLock lock(&mutex_);
  for (const auto& [id, record] : records_) {
    if (record->session.version > changed_after) sessions.push_back(record->session);
  }
  std::sort(sessions.begin(), sessions.end(),
            [](const CapturedSession& a, const CapturedSession& b) { return a.id < b.id; });
  return sessions;
}

std::optional<CapturedSession> CaptureStore::Session(SessionId id) const {
  MutexLock lock(&mutex_);
  const auto found = records_.find(id);
  if (found == records_.end()) return std::nullopt;
  return found->second->session;
}

ChunkPage CaptureStore::Chunks(SessionId id, uint64_t from_index, size_t max_chunks,
                               size_t max_bytes) const {
  ChunkPage page;
  MutexLock lock(&mutex_);
  const auto found = records_.find(id);
  if (found == records_.end()) return page;
  const Record& record = *found->second;
  page.found = true;
  page.first_kept_chunk = record.session.first_kept_chunk;
  page.chunk_count = record.session.chunk_count;
  const uint64_t first = std::max(from_index, page.first_kept_chunk);
  if (first >= page.chunk_count) return page;
  const size_t available = static_cast<size_t>(page.chunk_count - first);
  const size_t wanted = std::min(available, max_chunks);
  page.chunks.reserve(wanted);
  size_t bytes = 0;
  auto at = record.chunks.begin() + static_cast<std::ptrdiff_t>(first - page.first_kept_chunk);
  for (size_t i = 0; i < wanted && (i == 0 || bytes < max_bytes); ++i, ++at) {
    page.chunks.push_back(ChunkRef::Counted(*at));
    bytes += (*at)->size();
  }
  return page;
}

CaptureStore::Record* CaptureStore::Find(SessionId id) {
  const auto found = records_.find(id);
  return found == records_.end() ? nullptr : found->second.get();
}

void CaptureStore::Touch(Record& record, const EventTime& time) {
  record.session.version = ++counts_.sequence;
  record.session.last_event = time;
}

void CaptureStore::CountBytes(Record& record, Direction direction, uint64_t size) {
  record.stream_end[DirectionIndex(direction)] += size;
  if (direction == Direction::kClientToServer) {
    record.session.bytes_up += size;
    counts_.bytes_up += size;
  } else {
    record.session.bytes_down += size;
    counts_.bytes_down += size;
  }
}

bool CaptureStore::Append(Record& record, CapturedChunk* chunk) {
  try {
    record.chunks.push_back(chunk);
  } catch (const std::bad_alloc&) {
    return false;
  }
  try {
    arrivals_.push_back({&record, chunk->block_, static_cast<uint32_t>(chunk->size())});
  } catch (const std::bad_alloc&) {
    record.chunks.pop_back();
    return false;
  }
  return true;
}

bool CaptureStore::MakeRoom(uint64_t need, const Record* keep) {
  while (counts_.capture_used + need > limit_) {
    if (!arrivals_.empty()) {
      const Arrival arrival = arrivals_.front();
      arrivals_.pop_front();
      Record& record = *arrival.record;
      // The record's chunks and its chunk entries here are in the same order.
      record.chunks.pop_front();
      arrival.block->Unref();
      const uint64_t size = arrival.size;
      counts_.capture_used -= size + kChunkOverhead;
      counts_.bytes_dropped += size;
      ++record.session.first_kept_chunk;
      record.session.bytes_kept -= size;
      record.session.bytes_dropped += size;
      record.session.version = ++counts_.sequence;
      continue;
    }
    // No chunk is left: only then do ended sessions leave the list, the
    // oldest first, so that a trimmed session stays listed as trimmed.
    auto oldest = ended_.begin();
    if (oldest != ended_.end() && *oldest == keep) ++oldest;
    if (oldest == ended_.end()) return false;
    const SessionId id = (*oldest)->session.id;
    ended_.erase(oldest);
    counts_.capture_used -= kSessionOverhead;
    ++counts_.sessions_dropped;
    --counts_.sessions_kept;
    ++counts_.sequence;
    records_.erase(id);
  }
  return true;
}

void CaptureStore::OnOpened(const SessionOpened& event) {
  try {
    MutexLock lock(&mutex_);
    const SessionId key = CaptureKeyOf(event);
    if (Find(key) != nullptr) return;
    auto record = std::make_unique<Record>();
    Record* raw = record.get();
    raw->session.id = key;
    raw->session.client = event.client;
    raw->session.listener = event.listener;
    raw->session.opened = event.time;
    records_.emplace(key, std::move(record));
    counts_.capture_used += kSessionOverhead;
    ++counts_.sessions_total;
    ++counts_.sessions_open;
    ++counts_.sessions_kept;
    Touch(*raw, event.time);
    MakeRoom(0, raw);
  } catch (const std::bad_alloc&) {
    // The session goes unlisted; its later events find no record.
  }
}

void CaptureStore::OnConnected(const SessionConnected& event) {
  MutexLock lock(&mutex_);
  Record* record = Find(CaptureKeyOf(event));
  if (record == nullptr) return;
  CapturedSession& session = record->session;
  session.destination = event.destination;
  session.local = event.local;
  session.connect_took = event.took;
  if (session.state == CapturedState::kConnecting) session.state = CapturedState::kOpen;
  Touch(*record, event.time);
}

void CaptureStore::OnConnectFailed(const SessionConnectFailed& event) {
  try {
    MutexLock lock(&mutex_);
    Record* record = Find(CaptureKeyOf(event));
    if (record == nullptr) return;
    CapturedSession& session = record->session;
    session.state = CapturedState::kFailed;
    session.failure = event.status;
    session.destination_host = event.host;
    session.destination_port = event.port;
    Touch(*record, event.time);
  } catch (const std::bad_alloc&) {
    // The reason's text could not be copied; the rest is unchanged.
  }
}

void CaptureStore::OnChunk(const SessionChunk& event) {
  if (event.size == 0) return;
  const uint64_t cost = event.size + kChunkOverhead;
  const size_t direction = DirectionIndex(event.direction);
  // First: count the bytes, make room and take the space.
  CapturedChunk* reserved = nullptr;
  uint64_t offset = 0;
  {
    MutexLock lock(&mutex_);
    Record* record = Find(CaptureKeyOf(event));
    if (record == nullptr) return;
    offset = record->stream_end[direction];
    CountBytes(*record, event.direction, event.size);
    if (cost <= limit_ && event.size <= UINT32_MAX && MakeRoom(cost, record)) {
      reserved = Reserve(event.direction, event.time, event.size);
    }
    if (reserved == nullptr) {
      record->session.bytes_dropped += event.size;
      counts_.bytes_dropped += event.size;
      Touch(*record, event.time);
      return;
    }
    counts_.capture_used += cost;
  }
  // Then the copy, without the lock: the space is this thread's alone.
  std::memcpy(reserved->mutable_data(), event.data, event.size);
  reserved->stream_offset_ = offset;
  // Last: publish it (or give the room back when the session has gone).
  MutexLock lock(&mutex_);
  Record* record = Find(CaptureKeyOf(event));
  if (record == nullptr || !Append(*record, reserved)) {
    reserved->block_->Unref();
    counts_.capture_used -= cost;
    counts_.bytes_dropped += event.size;
    if (record != nullptr) {
      record->session.bytes_dropped += event.size;
      Touch(*record, event.time);
    }
    return;
  }
  CapturedSession& session = record->session;
  reserved->index_ = session.chunk_count++;
  session.bytes_kept += event.size;
  Touch(*record, event.time);
}

void CaptureStore::OnHalfClosed(const SessionHalfClosed& event) {
  MutexLock lock(&mutex_);
  Record* record = Find(CaptureKeyOf(event));
  if (record == nullptr) return;
  CapturedSession& session = record->session;
  if (event.direction == Direction::kClientToServer) {
    session.client_finished = true;
  } else {
    session.server_finished = true;
  }
  if (session.state == CapturedState::kOpen || session.state == CapturedState::kConnecting) {
    session.state = CapturedState::kHalfClosed;
  }
  Touch(*record, event.time);
}

void CaptureStore::OnConditionActed(const SessionConditionActed& event) {
  // A cut shows in how the session ended; a stall leaves it open, so it is
  // kept here for the Sessions list to say.
  if (event.kind != SessionConditionActed::Kind::kStall) return;
  MutexLock lock(&mutex_);
  Record* record = Find(CaptureKeyOf(event));
  if (record == nullptr) return;
  CapturedSession& session = record->session;
  (event.direction == Direction::kClientToServer ? session.up_stalled_after
                                                 : session.down_stalled_after) = event.bytes;
  Touch(*record, event.time);
}

void CaptureStore::OnClosed(const SessionClosed& event) {
  MutexLock lock(&mutex_);
  Record* record = Find(CaptureKeyOf(event));
  if (record == nullptr) return;
  if (record->closed) return;
  record->closed = true;
  CapturedSession& session = record->session;
  if (session.state != CapturedState::kFailed) session.state = CapturedState::kClosed;
  session.close_reason = event.how;
  // A cut or an idle time-out says what it did ("idle 30 s").
  if (event.how == CloseReason::kCut || event.how == CloseReason::kIdle) {
    session.failure = event.error;
  }
  session.duration = event.duration;
  // The relay's own totals win over what came by chunks (observers may be
  // given no chunks at all).
  if (event.bytes_up > session.bytes_up) {
    CountBytes(*record, Direction::kClientToServer, event.bytes_up - session.bytes_up);
  }
  if (event.bytes_down > session.bytes_down) {
    CountBytes(*record, Direction::kServerToClient, event.bytes_down - session.bytes_down);
  }
  --counts_.sessions_open;
  Touch(*record, event.time);
  // An ended session may leave the list once no chunk is left to drop.
  try {
    ended_.push_back(record);
  } catch (const std::bad_alloc&) {
    // It stays listed.
  }
}

}  // namespace portwick

#include "capture/queued_observer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace portwick {

namespace {

constexpr size_t kAlignment = 8;
// What a queued lifecycle event counts against the bound besides its record
// (the event itself in its queue, and the text it may carry).
constexpr size_t kLifecycleCost = 256;
// Emptied buffers kept for reuse.
constexpr size_t kSpareBuffers = 8;

size_t Aligned(size_t size) { return (size + kAlignment - 1) / kAlignment * kAlignment; }

}  // namespace

QueuedObserver::QueuedObserver(std::vector<std::shared_ptr<SessionEventWriter>> writers,
                               Options options)
    : writers_(std::move(writers)),
      max_queued_bytes_(options.max_queued_bytes),
      stop_time_limit_(options.stop_time_limit) {
  for (const auto& writer : writers_) {
    if (writer->WantsChunks()) chunk_writers_.push_back(writer.get());
  }
  worker_ = std::thread([this] { Run(); });
}

QueuedObserver::~QueuedObserver() { Stop(); }

void QueuedObserver::OnOpened(const SessionOpened& event) {
  EnqueueLifecycle(event, event.session);
}
void QueuedObserver::OnConnected(const SessionConnected& event) {
  EnqueueLifecycle(event, event.session);
}
void QueuedObserver::OnConnectFailed(const SessionConnectFailed& event) {
  try {
    EnqueueLifecycle(event, event.session);
  } catch (const std::bad_alloc&) {
    // The copy of the reason's text failed; the event is lost.
  }
}
void QueuedObserver::OnHalfClosed(const SessionHalfClosed& event) {
  EnqueueLifecycle(event, event.session);
}
void QueuedObserver::OnClosed(const SessionClosed& event) {
  EnqueueLifecycle(event, event.session);
}

void QueuedObserver::OnChunk(const SessionChunk& event) {
  if (chunk_writers_.empty() || event.size == 0) return;
  // A chunk larger than a record can say is queued in pieces.
  constexpr size_t kLargest = uint32_t{1} << 30;
  SessionChunk piece = event;
  size_t left = event.size;
  do {
    piece.size = std::min(left, kLargest);
    EnqueueChunk(piece);
    piece.data += piece.size;
    left -= piece.size;
  } while (left > 0);
}

bool QueuedObserver::WaitForRoom(size_t cost) {
  // A record larger than the bound passes alone once the queue is empty.
  while (!stopped_ && held_bytes_ != 0 && held_bytes_ + cost > max_queued_bytes_) {
    ++waiting_writers_;
    worker_idle_ = false;
    work_.Signal();
    room_.Wait();
    --waiting_writers_;
  }
  if (stopped_) {
    ++dropped_events_;
    return false;
  }
  return true;
}

void QueuedObserver::EnqueueChunk(const SessionChunk& event) {
  RecordHeader header{true, event.direction, static_cast<uint32_t>(event.size), event.session,
                      event.time};
  const size_t cost = Aligned(sizeof(RecordHeader) + event.size);
  MutexLock lock(&mutex_);
  if (!WaitForRoom(cost)) return;
  try {
    Append(header, event.data);
  } catch (const std::bad_alloc&) {
    ++dropped_events_;
  }
}

void QueuedObserver::EnqueueLifecycle(Lifecycle event, SessionId session) {
  RecordHeader header{false, Direction::kClientToServer, 0, session, EventTime{}};
  const size_t cost = Aligned(sizeof(RecordHeader)) + kLifecycleCost;
  MutexLock lock(&mutex_);
  if (!WaitForRoom(cost)) return;
  try {
    queue_.lifecycle.push_back(std::move(event));
  } catch (const std::bad_alloc&) {
    ++dropped_events_;
    return;
  }
  try {
    Append(header, nullptr);
    held_bytes_ += kLifecycleCost;
    queue_.buffers.back().held += kLifecycleCost;
  } catch (const std::bad_alloc&) {
    queue_.lifecycle.pop_back();
    ++dropped_events_;
  }
}

void QueuedObserver::Append(const RecordHeader& header, const char* data) {
  const size_t size = Aligned(sizeof(RecordHeader) + header.size);
  Buffer& buffer = BufferWithRoom(size);
  char* at = buffer.bytes.get() + buffer.used;
  std::memcpy(at, &header, sizeof header);
  if (header.size > 0) std::memcpy(at + sizeof header, data, header.size);
  buffer.used += size;
  buffer.held += size;
  held_bytes_ += size;
  if (worker_idle_) {
    worker_idle_ = false;
    work_.Signal();
  }
}

QueuedObserver::Buffer& QueuedObserver::BufferWithRoom(size_t need) {
  if (!queue_.buffers.empty() &&
      queue_.buffers.back().capacity - queue_.buffers.back().used >= need) {
    return queue_.buffers.back();
  }
  if (need <= kBufferSize && !spare_buffers_.empty()) {
    queue_.buffers.push_back(std::move(spare_buffers_.back()));
    spare_buffers_.pop_back();
  } else {
    const size_t capacity = std::max(need, kBufferSize);
    Buffer buffer;
    buffer.bytes = std::make_unique_for_overwrite<char[]>(capacity);
    buffer.capacity = capacity;
    queue_.buffers.push_back(std::move(buffer));
  }
  return queue_.buffers.back();
}

void QueuedObserver::Run() {
  mutex_.Lock();
  for (;;) {
    while (queue_.buffers.empty() && !stop_requested_) {
      worker_idle_ = true;
      work_.Wait();
    }
    worker_idle_ = false;
    if (queue_.buffers.empty()) {
      // Stopping: end once no relay is still waiting to queue an event.
      if (waiting_writers_ == 0) break;
      room_.SignalAll();
      work_.WaitFor(kGatherTime);
      continue;
    }
    // Let a batch gather, unless stopping or relays wait for room.
    if (!stop_requested_ && waiting_writers_ == 0) work_.WaitFor(kGatherTime);
    Batch batch;
    std::swap(batch, queue_);
    mutex_.Unlock();
    Deliver(batch);
    mutex_.Lock();
    for (Buffer& buffer : batch.buffers) {
      held_bytes_ -= buffer.held;
      if (buffer.capacity == kBufferSize && spare_buffers_.size() < kSpareBuffers) {
        buffer.used = 0;
        buffer.held = 0;
        spare_buffers_.push_back(std::move(buffer));
      }
    }
    if (waiting_writers_ > 0) room_.SignalAll();
    // The buffers that were not kept are freed outside the lock.
    mutex_.Unlock();
    batch = Batch();
    mutex_.Lock();
  }
  stopped_ = true;
  room_.SignalAll();
  ended_.SignalAll();
  mutex_.Unlock();
}

void QueuedObserver::Deliver(Batch& batch) {
  for (const Buffer& buffer : batch.buffers) {
    size_t at = 0;
    while (at < buffer.used) {
      RecordHeader header;
      std::memcpy(&header, buffer.bytes.get() + at, sizeof header);
      if (header.is_chunk) {
        SessionChunk chunk;
        chunk.session = header.session;
        chunk.direction = header.direction;
        chunk.time = header.time;
        chunk.data = buffer.bytes.get() + at + sizeof header;
        chunk.size = header.size;
        for (SessionEventWriter* writer : chunk_writers_) writer->OnChunk(chunk);
      } else {
        DeliverLifecycle(batch.lifecycle.front());
        batch.lifecycle.pop_front();
      }
      at += Aligned(sizeof header + header.size);
    }
  }
  for (const auto& writer : writers_) writer->Flush();
}

void QueuedObserver::DeliverLifecycle(const Lifecycle& event) {
  for (const auto& writer : writers_) {
    std::visit(
        [&writer](const auto& e) {
          using Event = std::decay_t<decltype(e)>;
          if constexpr (std::is_same_v<Event, SessionOpened>) {
            writer->OnOpened(e);
          } else if constexpr (std::is_same_v<Event, SessionConnected>) {
            writer->OnConnected(e);
          } else if constexpr (std::is_same_v<Event, SessionConnectFailed>) {
            writer->OnConnectFailed(e);
          } else if constexpr (std::is_same_v<Event, SessionHalfClosed>) {
            writer->OnHalfClosed(e);
          } else {
            writer->OnClosed(e);
          }
        },
        event);
  }
}

void QueuedObserver::Stop() {
  const auto deadline = std::chrono::steady_clock::now() + stop_time_limit_;
  bool abandoned = false;
  mutex_.Lock();
  if (!stop_requested_) {
    stop_requested_ = true;
    work_.Signal();
  }
  while (!stopped_) {
    if (abandoned) {
      ended_.Wait();
    } else if (!ended_.WaitUntil(deadline) && !stopped_) {
      // A writer blocked for good would hold the stop, and the program, for
      // good; give its output up instead.
      mutex_.Unlock();
      for (const auto& writer : writers_) writer->Abandon();
      mutex_.Lock();
      abandoned = true;
    }
  }
  mutex_.Unlock();
  if (worker_.joinable()) worker_.join();
}

uint64_t QueuedObserver::dropped_events() const {
  MutexLock lock(&mutex_);
  return dropped_events_;
}

size_t QueuedObserver::QueuedBytes() const {
  MutexLock lock(&mutex_);
  return held_bytes_;
}

int QueuedObserver::WaitingWriters() const {
  MutexLock lock(&mutex_);
  return waiting_writers_;
}

}  // namespace portwick

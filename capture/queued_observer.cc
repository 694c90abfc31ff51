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

size_t Aligned(size_t size) { return (size + kAlignment - 1) / kAlignment * kAlignment; }

std::vector<SessionEventWriter*> ChunkWriters(
    const std::vector<std::shared_ptr<SessionEventWriter>>& writers) {
  std::vector<SessionEventWriter*> chunk_writers;
  for (const auto& writer : writers) {
    if (writer->WantsChunks()) chunk_writers.push_back(writer.get());
  }
  return chunk_writers;
}

BoundedByteQueue::Options QueueOptions(const QueuedObserver::Options& options) {
  BoundedByteQueue::Options queue;
  queue.max_bytes = options.max_queued_bytes;
  queue.drain_period = QueuedObserver::kGatherTime;
  return queue;
}
}  // namespace

QueuedObserver::QueuedObserver(std::vector<std::shared_ptr<SessionEventWriter>> writers,
                               Options options)
    : writers_(std::move(writers)),
      chunk_writers_(ChunkWriters(writers_)),
      stop_time_limit_(options.stop_time_limit),
      queue_(QueueOptions(options), &delivery_) {}

QueuedObserver::~QueuedObserver() { Stop(); }

void QueuedObserver::OnOpened(const SessionOpened& event) { EnqueueLifecycle(event); }
void QueuedObserver::OnConnected(const SessionConnected& event) { EnqueueLifecycle(event); }
void QueuedObserver::OnConnectFailed(const SessionConnectFailed& event) {
  try {
    EnqueueLifecycle(event);
  } catch (const std::bad_alloc&) {
    // The copy of the reason's text failed; the event is lost.
  }
}
void QueuedObserver::OnHalfClosed(const SessionHalfClosed& event) { EnqueueLifecycle(event); }
void QueuedObserver::OnConditionActed(const SessionConditionActed& event) {
  EnqueueLifecycle(event);
}
void QueuedObserver::OnClosed(const SessionClosed& event) { EnqueueLifecycle(event); }

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

void QueuedObserver::EnqueueChunk(const SessionChunk& event) {
  const RecordHeader header{true,
                            event.direction,
                            static_cast<uint16_t>(event.forward),
                            static_cast<uint32_t>(event.size),
                            event.session,
                            event.time,
                            event.held};
  const size_t size = Aligned(sizeof(RecordHeader) + event.size);
  const char* data = event.data;
  try {
    const bool queued = queue_.Push(size, size, [&header, data](char* at) {
      std::memcpy(at, &header, sizeof header);
      if (header.size > 0) std::memcpy(at + sizeof header, data, header.size);
    });
    if (!queued) dropped_events_.fetch_add(1, std::memory_order_relaxed);
  } catch (const std::bad_alloc&) {
    dropped_events_.fetch_add(1, std::memory_order_relaxed);
  }
}

void QueuedObserver::EnqueueLifecycle(Lifecycle event) {
  const RecordHeader header{false, Direction::kClientToServer, 0, 0, 0, EventTime{}, {}};
  const size_t size = Aligned(sizeof(RecordHeader));
  try {
    const bool queued = queue_.Push(size, size + kLifecycleCost, [&](char* at) {
      {
        MutexLock lock(&lifecycle_mutex_);
        lifecycle_.push_back(std::move(event));
      }
      std::memcpy(at, &header, sizeof header);
    });
    if (!queued) dropped_events_.fetch_add(1, std::memory_order_relaxed);
  } catch (const std::bad_alloc&) {
    dropped_events_.fetch_add(1, std::memory_order_relaxed);
  }
}

void QueuedObserver::Delivery::Deliver(const char* data, size_t size) {
  size_t at = 0;
  while (at < size) {
    RecordHeader header;
    std::memcpy(&header, data + at, sizeof header);
    if (header.is_chunk) {
      SessionChunk chunk;
      chunk.session = header.session;
      chunk.forward = header.forward;
      chunk.direction = header.direction;
      chunk.time = header.time;
      chunk.data = data + at + sizeof header;
      chunk.size = header.size;
      chunk.held = header.held;
      for (SessionEventWriter* writer : observer_->chunk_writers_) writer->OnChunk(chunk);
    } else {
      Lifecycle event;
      {
        MutexLock lock(&observer_->lifecycle_mutex_);
        event = std::move(observer_->lifecycle_.front());
        observer_->lifecycle_.pop_front();
      }
      observer_->DeliverLifecycle(event);
    }
    at += Aligned(sizeof header + header.size);
  }
}

void QueuedObserver::Delivery::EndDrain() {
  for (const auto& writer : observer_->writers_) writer->Flush();
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
          } else if constexpr (std::is_same_v<Event, SessionConditionActed>) {
            writer->OnConditionActed(e);
          } else {
            writer->OnClosed(e);
          }
        },
        event);
  }
}

void QueuedObserver::Stop() {
  if (!queue_.StopBefore(std::chrono::steady_clock::now() + stop_time_limit_)) {
    // A writer blocked for good would hold the stop, and the program, for
    // good; give its output up instead.
    for (const auto& writer : writers_) writer->Abandon();
    queue_.Stop();
  }
  // The worker has ended: nothing calls the writers any more.
  for (const auto& writer : writers_) writer->Close();
}

}  // namespace portwick

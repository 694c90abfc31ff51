#include "trafficlog/queued_log_sink.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace portwick {

namespace {
// How long Stop blocks between two rounds of serving events.
constexpr std::chrono::milliseconds kServeInterval{5};
// Emptied chunks kept for reuse after a quiet drain period; under load every
// chunk is kept, so a full queue is refilled without fresh pages.
constexpr size_t kIdleSpareChunks = 4;

size_t HeldSize(int32_t length) { return static_cast<size_t>(length) + 1; }
size_t LaidOutSize(int32_t length) { return sizeof(int32_t) + static_cast<size_t>(length) + 1; }
}  // namespace

QueuedLogSink::QueuedLogSink(Options options)
    : max_queued_bytes_(options.max_queued_bytes),
      wake_bytes_(std::min(max_queued_bytes_ / 2, kWakeBytes)),
      drain_period_(options.drain_period),
      serve_events_(std::move(options.serve_events)) {
  worker_ = std::thread([this] { Run(); });
}

QueuedLogSink::~QueuedLogSink() {
  Stop();
  MutexLock lock(&mutex_);
  queue_.clear();
  spare_chunks_.clear();
  held_bytes_ = 0;
}

void QueuedLogSink::Process(LogCall& call) {
  const int32_t length = call.output_length;
  const size_t size = HeldSize(length);
  MutexLock lock(&mutex_);
  while (state_ != WorkerState::WorkerStopped && !HasRoom(size)) {
    ++waiting_writers_;
    WakeWorker();
    room_.Wait();
    --waiting_writers_;
  }
  // Nobody would deliver it any more.
  if (state_ == WorkerState::WorkerStopped) return;

  Chunk& chunk = ChunkWithRoom(LaidOutSize(length));
  char* at = chunk.bytes.get() + chunk.used;
  std::memcpy(at, &length, sizeof length);
  at += sizeof length;
  if (length > 0) std::memcpy(at, call.output_data, static_cast<size_t>(length));
  at[length] = '\0';
  chunk.used += LaidOutSize(length);
  chunk.held += size;
  ++chunk.records;
  held_bytes_ += size;
  ++held_records_;
  if (state_ == WorkerState::WorkerStopRequested || held_bytes_ >= wake_bytes_) WakeWorker();
}

QueuedLogSink::Chunk& QueuedLogSink::ChunkWithRoom(size_t need) {
  if (!queue_.empty() && queue_.back().capacity - queue_.back().used >= need) {
    return queue_.back();
  }
  if (need <= kChunkSize && !spare_chunks_.empty()) {
    queue_.push_back(std::move(spare_chunks_.back()));
    spare_chunks_.pop_back();
  } else {
    const size_t capacity = std::max(need, kChunkSize);
    queue_.push_back(Chunk{std::make_unique_for_overwrite<char[]>(capacity), capacity, 0, 0, 0});
  }
  return queue_.back();
}

bool QueuedLogSink::HasRoom(size_t size) const {
  // A record larger than the bound passes once nothing else is held.
  return held_bytes_ == 0 || held_bytes_ + size <= max_queued_bytes_;
}

bool QueuedLogSink::HasWorkerWork() const {
  return wake_ ||
         (state_ == WorkerState::WorkerStopRequested && (waiting_writers_ == 0 || !queue_.empty()));
}

void QueuedLogSink::WakeWorker() {
  if (!wake_) {
    wake_ = true;
    work_.Signal();
  }
}

void QueuedLogSink::Run() {
  mutex_.Lock();
  for (;;) {
    // A drain goes on until the queue is empty, records queued meanwhile
    // included.
    while (!queue_.empty()) {
      std::deque<Chunk> batch;
      batch.swap(queue_);
      mutex_.Unlock();
      DeliverBatch(batch);
      mutex_.Lock();
    }
    // When stopping, end only once no writer is still waiting to queue a
    // record (its room has been made; it queues as soon as it runs).
    if (state_ == WorkerState::WorkerStopRequested && waiting_writers_ == 0) break;
    const auto deadline = std::chrono::steady_clock::now() + drain_period_;
    bool woken = true;
    while (!HasWorkerWork()) {
      if (!work_.WaitUntil(deadline)) {
        woken = HasWorkerWork();
        break;
      }
    }
    wake_ = false;
    if (!woken && spare_chunks_.size() > kIdleSpareChunks) spare_chunks_.resize(kIdleSpareChunks);
  }
  state_ = WorkerState::WorkerStopped;
  // Writers that still arrive drop their records instead of waiting.
  room_.SignalAll();
  stopped_.SignalAll();
  mutex_.Unlock();
}

void QueuedLogSink::DeliverBatch(std::deque<Chunk>& batch) {
  BeginDrain();
  for (Chunk& chunk : batch) {
    batch_records_.clear();
    size_t at = 0;
    while (at < chunk.used) {
      LogRecord record;
      std::memcpy(&record.length, chunk.bytes.get() + at, sizeof record.length);
      record.data = chunk.bytes.get() + at + sizeof record.length;
      batch_records_.push_back(record);
      at += LaidOutSize(record.length);
    }
    OutputRecords(batch_records_.data(), batch_records_.size());
    ReleaseChunk(std::move(chunk));
  }
  EndDrain();
}

void QueuedLogSink::OutputRecords(const LogRecord* records, size_t count) {
  for (size_t i = 0; i < count; ++i) Output(records[i].data, records[i].length);
}

void QueuedLogSink::ReleaseChunk(Chunk chunk) {
  MutexLock lock(&mutex_);
  held_bytes_ -= chunk.held;
  held_records_ -= chunk.records;
  if (chunk.capacity == kChunkSize) {
    chunk.used = 0;
    chunk.held = 0;
    chunk.records = 0;
    spare_chunks_.push_back(std::move(chunk));
  }
  // Waiting writers are woken once the queue is down to half its bound, so
  // that they don't wake for every record.
  if (waiting_writers_ > 0 && held_bytes_ <= max_queued_bytes_ / 2) room_.SignalAll();
}

void QueuedLogSink::Stop(const ServeEvents& serve_events) { StopAndWait(nullptr, serve_events); }

bool QueuedLogSink::StopBefore(std::chrono::steady_clock::time_point deadline,
                               const ServeEvents& serve_events) {
  return StopAndWait(&deadline, serve_events);
}

bool QueuedLogSink::StopAndWait(const std::chrono::steady_clock::time_point* deadline,
                                const ServeEvents& serve_events) {
  const ServeEvents& serve = serve_events ? serve_events : serve_events_;
  const auto passed = [deadline] {
    return deadline != nullptr && std::chrono::steady_clock::now() >= *deadline;
  };
  mutex_.Lock();
  if (state_ == WorkerState::WorkerRunning) {
    state_ = WorkerState::WorkerStopRequested;
    wake_ = true;
    work_.Signal();
  }
  while (state_ != WorkerState::WorkerStopped && !passed()) {
    if (serve) {
      mutex_.Unlock();
      serve();
      mutex_.Lock();
      if (state_ != WorkerState::WorkerStopped) stopped_.WaitFor(kServeInterval);
    } else if (deadline != nullptr) {
      stopped_.WaitUntil(*deadline);
    } else {
      stopped_.Wait();
    }
  }
  const bool stopped = state_ == WorkerState::WorkerStopped;
  mutex_.Unlock();
  if (!stopped) return false;
  // The worker has reported its end; a nested Stop may have joined it already.
  if (worker_.joinable()) worker_.join();
  return true;
}

void QueuedLogSink::LeaveBehind() {
  if (worker_.joinable()) worker_.detach();
}

QueuedLogSink::WorkerState QueuedLogSink::state() const {
  MutexLock lock(&mutex_);
  return state_;
}

size_t QueuedLogSink::QueuedBytes() const {
  MutexLock lock(&mutex_);
  return held_bytes_;
}

size_t QueuedLogSink::QueuedRecords() const {
  MutexLock lock(&mutex_);
  return held_records_;
}

int QueuedLogSink::WaitingWriters() const {
  MutexLock lock(&mutex_);
  return waiting_writers_;
}

}  // namespace portwick

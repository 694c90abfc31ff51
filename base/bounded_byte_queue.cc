#include "base/bounded_byte_queue.h"

#include <algorithm>
#include <utility>

namespace portwick {

namespace {
// How long Stop blocks between two rounds of serving.
constexpr std::chrono::milliseconds kServeInterval{5};
// Emptied buffers kept for reuse after a quiet drain period; under load every
// buffer is kept, so a full queue is refilled without fresh pages.
constexpr size_t kIdleSpareBuffers = 4;
}  // namespace

BoundedByteQueue::BoundedByteQueue(Options options, Consumer* consumer)
    : max_bytes_(options.max_bytes),
      wake_bytes_(std::min(max_bytes_ / 2, kWakeBytes)),
      drain_period_(options.drain_period),
      consumer_(consumer) {
  worker_ = std::thread([this] { Run(); });
}

BoundedByteQueue::~BoundedByteQueue() {
  Stop();
  MutexLock lock(&mutex_);
  queue_.clear();
  spare_.clear();
}

char* BoundedByteQueue::Reserve(size_t size, size_t cost) {
  while (state_ != State::kStopped && !HasRoom(cost)) {
    ++waiting_writers_;
    WakeWorker();
    room_.Wait();
    --waiting_writers_;
  }
  // Nobody would deliver it any more.
  if (state_ == State::kStopped) return nullptr;
  if (queue_.empty() || queue_.back().capacity - queue_.back().used < size) {
    if (size <= kBufferSize && !spare_.empty()) {
      queue_.push_back(std::move(spare_.back()));
      spare_.pop_back();
    } else {
      const size_t capacity = std::max(size, kBufferSize);
      queue_.push_back(Buffer{std::make_unique_for_overwrite<char[]>(capacity), capacity, 0, 0, 0});
    }
  }
  return queue_.back().bytes.get() + queue_.back().used;
}

void BoundedByteQueue::Commit(size_t size, size_t cost) {
  Buffer& buffer = queue_.back();
  buffer.used += size;
  buffer.held += cost;
  ++buffer.records;
  held_cost_ += cost;
  ++held_records_;
  if (state_ == State::kStopRequested || held_cost_ >= wake_bytes_) {
    WakeWorker();
  } else if (idle_) {
    // The first record starts the drain period.
    idle_ = false;
    work_.Signal();
  }
}

bool BoundedByteQueue::HasRoom(size_t cost) const {
  // A record costing more than the bound passes once nothing else is held.
  return held_cost_ == 0 || held_cost_ + cost <= max_bytes_;
}

void BoundedByteQueue::WakeWorker() {
  if (!wake_) {
    wake_ = true;
    work_.Signal();
  }
}

bool BoundedByteQueue::HasUrgentWork() const {
  return wake_ || (state_ == State::kStopRequested && (waiting_writers_ == 0 || !queue_.empty()));
}

void BoundedByteQueue::Run() {
  mutex_.Lock();
  for (;;) {
    // A drain goes on until the queue is empty, records queued meanwhile
    // included.
    while (!queue_.empty()) {
      std::deque<Buffer> batch;
      batch.swap(queue_);
      mutex_.Unlock();
      DeliverBatch(batch);
      mutex_.Lock();
    }
    // When stopping, end only once no writer is still waiting to queue a
    // record (its room has been made; it queues as soon as it runs).
    if (state_ == State::kStopRequested && waiting_writers_ == 0) break;
    const bool woken = Sleep();
    wake_ = false;
    if (!woken && spare_.size() > kIdleSpareBuffers) spare_.resize(kIdleSpareBuffers);
  }
  state_ = State::kStopped;
  // Writers that still arrive drop their records instead of waiting.
  room_.SignalAll();
  stopped_.SignalAll();
  mutex_.Unlock();
}

bool BoundedByteQueue::Sleep() {
  bool period_started = false;
  std::chrono::steady_clock::time_point deadline;
  while (!HasUrgentWork()) {
    if (queue_.empty()) {
      idle_ = true;
      work_.Wait();
      continue;
    }
    if (!period_started) {
      idle_ = false;
      period_started = true;
      deadline = std::chrono::steady_clock::now() + drain_period_;
    }
    if (!work_.WaitUntil(deadline) && !HasUrgentWork()) return false;
  }
  idle_ = false;
  return true;
}

void BoundedByteQueue::DeliverBatch(std::deque<Buffer>& batch) {
  consumer_->BeginDrain();
  for (Buffer& buffer : batch) {
    consumer_->Deliver(buffer.bytes.get(), buffer.used);
    Release(std::move(buffer));
  }
  consumer_->EndDrain();
}

void BoundedByteQueue::Release(Buffer buffer) {
  // A buffer that is not kept is freed after the lock is let go.
  MutexLock lock(&mutex_);
  held_cost_ -= buffer.held;
  held_records_ -= buffer.records;
  if (buffer.capacity == kBufferSize) {
    buffer.used = 0;
    buffer.held = 0;
    buffer.records = 0;
    spare_.push_back(std::move(buffer));
  }
  // Waiting writers are woken once the queue is down to half its bound, so
  // that they don't wake for every record.
  if (waiting_writers_ > 0 && held_cost_ <= max_bytes_ / 2) room_.SignalAll();
}

void BoundedByteQueue::Stop(const std::function<void()>& serve) { StopAndWait(nullptr, serve); }

bool BoundedByteQueue::StopBefore(std::chrono::steady_clock::time_point deadline,
                                  const std::function<void()>& serve) {
  return StopAndWait(&deadline, serve);
}

bool BoundedByteQueue::StopAndWait(const std::chrono::steady_clock::time_point* deadline,
                                   const std::function<void()>& serve) {
  const auto passed = [deadline] {
    return deadline != nullptr && std::chrono::steady_clock::now() >= *deadline;
  };
  mutex_.Lock();
  if (state_ == State::kRunning) {
    state_ = State::kStopRequested;
    wake_ = true;
    work_.Signal();
  }
  while (state_ != State::kStopped && !passed()) {
    if (serve) {
      mutex_.Unlock();
      serve();
      mutex_.Lock();
      if (state_ != State::kStopped) stopped_.WaitFor(kServeInterval);
    } else if (deadline != nullptr) {
      stopped_.WaitUntil(*deadline);
    } else {
      stopped_.Wait();
    }
  }
  const bool stopped = state_ == State::kStopped;
  mutex_.Unlock();
  if (!stopped) return false;
  // The worker has reported its end; a nested Stop may have joined it already.
  if (worker_.joinable()) worker_.join();
  return true;
}

void BoundedByteQueue::LeaveBehind() {
  if (worker_.joinable()) worker_.detach();
}

BoundedByteQueue::State BoundedByteQueue::state() const {
  MutexLock lock(&mutex_);
  return state_;
}

size_t BoundedByteQueue::HeldCost() const {
  MutexLock lock(&mutex_);
  return held_cost_;
}

size_t BoundedByteQueue::HeldRecords() const {
  MutexLock lock(&mutex_);
  return held_records_;
}

int BoundedByteQueue::WaitingWriters() const {
  MutexLock lock(&mutex_);
  return waiting_writers_;
}

}  // namespace portwick

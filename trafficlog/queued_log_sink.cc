#include "trafficlog/queued_log_sink.h"

#include <cstring>
#include <utility>

namespace portwick {

namespace {
// How long Stop blocks between two rounds of serving events.
constexpr std::chrono::milliseconds kServeInterval{5};

size_t HeldSize(int32_t length) { return static_cast<size_t>(length) + 1; }
}  // namespace

QueuedLogSink::QueuedLogSink(Options options)
    : max_queued_bytes_(options.max_queued_bytes),
      drain_period_(options.drain_period),
      serve_events_(std::move(options.serve_events)) {
  worker_ = std::thread([this] { Run(); });
}

QueuedLogSink::~QueuedLogSink() {
  Stop();
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.clear();
  held_bytes_ = 0;
}

void QueuedLogSink::Process(LogCall& call) {
  const int32_t length = call.output_length;
  const size_t size = HeldSize(length);
  // The copy is made before the lock is taken.
  LogRecord record{std::make_unique_for_overwrite<char[]>(size), length};
  if (length > 0) std::memcpy(record.data.get(), call.output_data, static_cast<size_t>(length));
  record.data[static_cast<size_t>(length)] = '\0';

  std::unique_lock<std::mutex> lock(mutex_);
  while (state_ != WorkerState::WorkerStopped && !HasRoom(size)) {
    ++waiting_writers_;
    WakeWorker();
    room_.wait(lock);
    --waiting_writers_;
  }
  // Nobody would deliver it any more.
  if (state_ == WorkerState::WorkerStopped) return;
  queue_.push_back(std::move(record));
  held_bytes_ += size;
  if (state_ == WorkerState::WorkerStopRequested || held_bytes_ >= max_queued_bytes_ / 2) {
    WakeWorker();
  }
}

bool QueuedLogSink::HasRoom(size_t size) const {
  // A record larger than the bound passes once nothing else is held.
  return held_bytes_ == 0 || held_bytes_ + size <= max_queued_bytes_;
}

void QueuedLogSink::WakeWorker() {
  if (!wake_) {
    wake_ = true;
    work_.notify_one();
  }
}

void QueuedLogSink::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // A drain goes on until the queue is empty, records queued meanwhile
    // included.
    while (!queue_.empty()) {
      std::deque<LogRecord> batch;
      batch.swap(queue_);
      lock.unlock();
      DeliverBatch(batch);
      lock.lock();
    }
    // When stopping, end only once no writer is still waiting to queue a
    // record (its room has been made; it queues as soon as it runs).
    if (state_ == WorkerState::WorkerStopRequested && waiting_writers_ == 0) break;
    work_.wait_for(lock, drain_period_, [this]() EXCLUSIVE_LOCKS_REQUIRED(mutex_) {
      return wake_ || (state_ == WorkerState::WorkerStopRequested &&
                       (waiting_writers_ == 0 || !queue_.empty()));
    });
    wake_ = false;
  }
  state_ = WorkerState::WorkerStopped;
  // Writers that still arrive drop their records instead of waiting.
  room_.notify_all();
  stopped_.notify_all();
}

void QueuedLogSink::DeliverBatch(std::deque<LogRecord>& batch) {
  BeginDrain();
  for (LogRecord& record : batch) {
    Output(record.data.get(), record.length);
    const size_t size = HeldSize(record.length);
    record.data.reset();
    std::lock_guard<std::mutex> lock(mutex_);
    held_bytes_ -= size;
    if (waiting_writers_ > 0) room_.notify_all();
  }
  EndDrain();
}

void QueuedLogSink::Stop(const ServeEvents& serve_events) {
  const ServeEvents& serve = serve_events ? serve_events : serve_events_;
  std::unique_lock<std::mutex> lock(mutex_);
  if (state_ == WorkerState::WorkerRunning) {
    state_ = WorkerState::WorkerStopRequested;
    wake_ = true;
    work_.notify_one();
  }
  auto ended = [this]() EXCLUSIVE_LOCKS_REQUIRED(mutex_) {
    return state_ == WorkerState::WorkerStopped;
  };
  while (!ended()) {
    if (serve) {
      lock.unlock();
      serve();
      lock.lock();
      stopped_.wait_for(lock, kServeInterval, ended);
    } else {
      stopped_.wait(lock, ended);
    }
  }
  lock.unlock();
  // The worker has reported its end; a nested Stop may have joined it already.
  if (worker_.joinable()) worker_.join();
}

QueuedLogSink::WorkerState QueuedLogSink::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

size_t QueuedLogSink::QueuedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_bytes_;
}

int QueuedLogSink::WaitingWriters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_writers_;
}

}  // namespace portwick

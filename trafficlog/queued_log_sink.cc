#include "trafficlog/queued_log_sink.h"

#include <cstring>
#include <utility>

namespace portwick {

namespace {
size_t HeldSize(int32_t length) { return static_cast<size_t>(length) + 1; }
size_t LaidOutSize(int32_t length) { return sizeof(int32_t) + static_cast<size_t>(length) + 1; }

BoundedByteQueue::Options QueueOptions(const QueuedLogSink::Options& options) {
  BoundedByteQueue::Options queue;
  queue.max_bytes = options.max_queued_bytes;
  queue.drain_period = options.drain_period;
  return queue;
}
}  // namespace

QueuedLogSink::QueuedLogSink(Options options)
    : serve_events_(std::move(options.serve_events)), queue_(QueueOptions(options), &delivery_) {}

QueuedLogSink::~QueuedLogSink() { Stop(); }

void QueuedLogSink::Process(LogCall& call) {
  const int32_t length = call.output_length;
  const char* data = call.output_data;
  // False once the worker has ended: nobody would deliver it any more.
  queue_.Push(LaidOutSize(length), HeldSize(length), [length, data](char* at) {
    std::memcpy(at, &length, sizeof length);
    at += sizeof length;
    if (length > 0) std::memcpy(at, data, static_cast<size_t>(length));
    at[length] = '\0';
  });
}

void QueuedLogSink::Delivery::Deliver(const char* data, size_t size) {
  records_.clear();
  size_t at = 0;
  while (at < size) {
    LogRecord record;
    std::memcpy(&record.length, data + at, sizeof record.length);
    record.data = data + at + sizeof record.length;
    records_.push_back(record);
    at += LaidOutSize(record.length);
  }
  sink_->OutputRecords(records_.data(), records_.size());
}

void QueuedLogSink::OutputRecords(const LogRecord* records, size_t count) {
  for (size_t i = 0; i < count; ++i) Output(records[i].data, records[i].length);
}

void QueuedLogSink::Stop(const ServeEvents& serve_events) {
  queue_.Stop(serve_events ? serve_events : serve_events_);
}

bool QueuedLogSink::StopBefore(std::chrono::steady_clock::time_point deadline,
                               const ServeEvents& serve_events) {
  return queue_.StopBefore(deadline, serve_events ? serve_events : serve_events_);
}

void QueuedLogSink::LeaveBehind() { queue_.LeaveBehind(); }

static_assert(static_cast<int>(QueuedLogSink::WorkerState::WorkerStopped) ==
              static_cast<int>(BoundedByteQueue::State::kStopped));
static_assert(static_cast<int>(QueuedLogSink::WorkerState::WorkerStopRequested) ==
              static_cast<int>(BoundedByteQueue::State::kStopRequested));

QueuedLogSink::WorkerState QueuedLogSink::state() const {
  return static_cast<WorkerState>(queue_.state());
}

size_t QueuedLogSink::QueuedBytes() const { return queue_.HeldCost(); }

size_t QueuedLogSink::QueuedRecords() const { return queue_.HeldRecords(); }

int QueuedLogSink::WaitingWriters() const { return queue_.WaitingWriters(); }

}  // namespace portwick

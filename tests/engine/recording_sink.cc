#include "recording_sink.h"

namespace portwick::testing {

void RecordingSink::Write(LogCall& call, const char* data, int32_t length) {
  std::string record(data, static_cast<size_t>(length));
  const bool terminated = data[length] == '\0';
  Note("Write " + std::to_string(length));
  call.input_data = data;
  call.input_length = length;
  std::lock_guard<std::mutex> lock(mutex_);
  if (transform_) {
    // The rewritten output lives here until ReleaseOutput.
    const std::string& out = outputs_[&call] = transform_(record);
    call.output_data = out.data();
    call.output_length = static_cast<int32_t>(out.size());
  } else {
    call.output_data = data;
    call.output_length = length;
  }
  total_bytes_ += record.size();
  records_.push_back(std::move(record));
  if (!terminated) ++missing_terminators_;
  ++outstanding_;
}

void RecordingSink::ReleaseOutput(LogCall& call) {
  Note("ReleaseOutput");
  const bool written = call.input_data != nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  outputs_.erase(&call);
  call = LogCall{};
  if (written) {
    --outstanding_;
  } else {
    ++bad_releases_;
  }
}

const char* RecordingSink::OutputData(const LogCall& call) const {
  Note("OutputData");
  return call.output_data;
}

int32_t RecordingSink::OutputLength(const LogCall& call) const {
  Note("OutputLength");
  return call.output_length;
}

std::vector<std::string> RecordingSink::records() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

size_t RecordingSink::total_bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return total_bytes_;
}

int RecordingSink::missing_terminators() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return missing_terminators_;
}

int RecordingSink::unbalanced_calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return outstanding_ + bad_releases_;
}

void RecordingSink::Note(const std::string& event) const {
  if (events_ == nullptr) return;
  std::lock_guard<std::mutex> lock(*events_mutex_);
  events_->push_back(event);
}

}  // namespace portwick::testing

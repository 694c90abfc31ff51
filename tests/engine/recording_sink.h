#ifndef PORTWICK_TESTS_ENGINE_RECORDING_SINK_H_
#define PORTWICK_TESTS_ENGINE_RECORDING_SINK_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/log_sink.h"
#include "engine/log_sink_handle.h"

namespace portwick::testing {

// A LogSink that keeps a copy of every record and, optionally, notes each
// call in a shared event list (so tests can check the order of sink calls
// against sends). It may rewrite what it passes on. Safe for many threads.
class RecordingSink : public LogSink {
 public:
  // Rewrites a record into the output the sink passes on.
  using Transform = std::function<std::string(const std::string&)>;

  explicit RecordingSink(std::vector<std::string>* events = nullptr,
                         std::mutex* events_mutex = nullptr, Transform transform = nullptr)
      : events_(events), events_mutex_(events_mutex), transform_(std::move(transform)) {}

  void Write(LogCall& call, const char* data, int32_t length) override;
  void ReleaseOutput(LogCall& call) override;
  const char* OutputData(const LogCall& call) const override;
  int32_t OutputLength(const LogCall& call) const override;

  std::vector<std::string> records() const;
  // Bytes of every record so far, in the order written.
  size_t total_bytes() const;
  // Records whose byte after the last one was not zero at Write.
  int missing_terminators() const;
  // Calls of ReleaseOutput without a Write before, or records still held.
  int unbalanced_calls() const;

 private:
  void Note(const std::string& event) const;

  std::vector<std::string>* const events_;
  std::mutex* const events_mutex_;
  const Transform transform_;

  mutable std::mutex mutex_;
  std::vector<std::string> records_;
  std::map<const LogCall*, std::string> outputs_;
  size_t total_bytes_ = 0;
  int missing_terminators_ = 0;
  int outstanding_ = 0;
  int bad_releases_ = 0;
};

// A RecordingSink with the handle relay threads reach it through. The
// destructor detaches the handle before the sink goes, so a relay thread
// still finishing a record never calls a destroyed sink.
class HandledSink {
 public:
  HandledSink() : handle_(std::make_shared<LogSinkHandle>(&sink_)) {}
  HandledSink(const HandledSink&) = delete;
  HandledSink& operator=(const HandledSink&) = delete;
  ~HandledSink() { handle_->Detach(nullptr); }

  RecordingSink& sink() { return sink_; }
  const std::shared_ptr<LogSinkHandle>& handle() const { return handle_; }

 private:
  RecordingSink sink_;
  std::shared_ptr<LogSinkHandle> handle_;
};

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_ENGINE_RECORDING_SINK_H_

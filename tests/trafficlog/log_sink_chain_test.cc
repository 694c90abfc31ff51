#include "trafficlog/log_sink_chain.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "trafficlog/sync_log_sink.h"

namespace portwick {
namespace {

// Notes what it receives and, when given a replacement, passes that on
// instead of its input (no sink of the program does, but the chain must
// hand each child what the one before it passed on).
class SpySink : public LogSinkBase {
 public:
  SpySink(std::string name, std::vector<std::string>* events, const char* replacement = nullptr)
      : name_(std::move(name)), events_(events), replacement_(replacement) {}

  void Write(LogCall& call, const char* data, int32_t length) override {
    LogSinkBase::Write(call, data, length);
    if (replacement_ != nullptr) {
      call.output_data = replacement_;
      call.output_length = static_cast<int32_t>(std::char_traits<char>::length(replacement_));
    }
  }
  void ReleaseOutput(LogCall& call) override {
    events_->push_back(name_ + " release " + std::string(call.output_data, call.output_length));
  }

 protected:
  void Process(LogCall& call) override {
    events_->push_back(name_ + " got " + std::string(call.input_data, call.input_length));
  }

 private:
  std::string name_;
  std::vector<std::string>* events_;
  const char* replacement_;
};

TEST(LogSinkChainTest, WithoutChildrenPassesTheRecordUnchanged) {
  LogSinkChain chain;
  const char data[] = "abc\0def";
  LogCall call;
  chain.Write(call, data, 7);
  EXPECT_EQ(chain.OutputData(call), data);
  EXPECT_EQ(chain.OutputLength(call), 7);
  chain.ReleaseOutput(call);

  LogCall empty;
  chain.Write(empty, data, 0);
  EXPECT_EQ(chain.OutputData(empty), data);
  EXPECT_EQ(chain.OutputLength(empty), 0);
}

TEST(LogSinkChainTest, EachChildGetsWhatThePreviousPassedOnInOrder) {
  std::vector<std::string> events;
  SpySink first("first", &events, "xyz");
  SpySink second("second", &events);
  LogSinkChain chain;
  chain.AddSink(&first);
  chain.AddSink(&second);
  chain.AddSink(nullptr);  // ignored
  ASSERT_EQ(chain.sinks().size(), 2u);

  LogCall call;
  chain.Write(call, "hello", 5);
  EXPECT_EQ(std::string(chain.OutputData(call), chain.OutputLength(call)), "xyz");
  chain.ReleaseOutput(call);
  // Each child is released inside the chain's Write, right after its output
  // was taken; the chain's own ReleaseOutput passes nothing on.
  EXPECT_EQ(events, (std::vector<std::string>{"first got hello", "first release xyz",
                                              "second got xyz", "second release xyz"}));
}

// A synchronous sink that checks, while many threads write at once, that
// every call it sees carries the caller's own record.
class CheckingSink : public SyncLogSink {
 public:
  int mismatches() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mismatches_;
  }

 protected:
  void Output(const char* data, int32_t length) override {
    // Records are "<n>:<n>" with the same n on both sides.
    const std::string text(data, length);
    const size_t colon = text.find(':');
    if (colon == std::string::npos || text.substr(0, colon) != text.substr(colon + 1) ||
        data[length] != '\0') {
      std::lock_guard<std::mutex> lock(mutex_);
      ++mismatches_;
    }
  }

 private:
  mutable std::mutex mutex_;
  int mismatches_ = 0;
};

TEST(LogSinkChainTest, ConcurrentCallersEachSendTheirOwnRecord) {
  CheckingSink first;
  CheckingSink second;
  LogSinkChain chain;
  chain.AddSink(&first);
  chain.AddSink(&second);

  constexpr int kThreads = 8;
  constexpr int kRecords = 2000;
  std::vector<int> wrong_output(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRecords; ++i) {
        const std::string n = std::to_string(t * kRecords + i);
        const std::string record = n + ":" + n;
        LogCall call;
        chain.Write(call, record.c_str(), static_cast<int32_t>(record.size()));
        const int32_t length = chain.OutputLength(call);
        if (chain.OutputData(call) != record.c_str() ||
            length != static_cast<int32_t>(record.size())) {
          ++wrong_output[t];
        }
        chain.ReleaseOutput(call);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong_output[t], 0) << "thread " << t;
  EXPECT_EQ(first.mismatches(), 0);
  EXPECT_EQ(second.mismatches(), 0);
}

}  // namespace
}  // namespace portwick

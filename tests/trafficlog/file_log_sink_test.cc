#include "trafficlog/file_log_sink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "trafficlog/queued_file_log_sink.h"
#include "trafficlog_test_support.h"

namespace portwick {
namespace {

using logtesting::FaultyFileAccess;
using logtesting::FileExists;
using logtesting::ReadFile;
using logtesting::TempDir;

// Both file sinks must produce the same file; every test here runs on each.
struct FileSinkKind {
  const char* name;
  std::function<std::unique_ptr<LogSinkBase>(const std::string&, LogFileAccess*)> make;
};

void PrintTo(const FileSinkKind& kind, std::ostream* os) { *os << kind.name; }

const FileSinkKind kKinds[] = {
    {"Sync",
     [](const std::string& file, LogFileAccess* access) -> std::unique_ptr<LogSinkBase> {
       return std::make_unique<FileLogSink>(file, access);
     }},
    {"Queued",
     [](const std::string& file, LogFileAccess* access) -> std::unique_ptr<LogSinkBase> {
       return std::make_unique<QueuedFileLogSink>(file, QueuedLogSink::Options{}, access);
     }},
};

class FileSinkTest : public ::testing::TestWithParam<FileSinkKind> {
 protected:
  std::unique_ptr<LogSinkBase> Make(const std::string& file,
                                    LogFileAccess* access = LogFileAccess::Default()) {
    return GetParam().make(file, access);
  }

  // Writes `record` (zero byte behind it, as callers provide) and checks
  // that the sink passes it on unchanged.
  static void Write(LogSink& sink, const std::string& record) {
    LogCall call;
    sink.Write(call, record.c_str(), static_cast<int32_t>(record.size()));
    EXPECT_EQ(sink.OutputData(call), record.c_str());
    EXPECT_EQ(sink.OutputLength(call), static_cast<int32_t>(record.size()));
    sink.ReleaseOutput(call);
  }

  // Ends a queued sink's worker so that everything written has been
  // delivered; a synchronous sink has delivered already.
  static void Finish(std::unique_ptr<LogSinkBase>& sink) { sink.reset(); }

  TempDir dir_;
};

TEST_P(FileSinkTest, CreatesTheFileWithTheFirstRecordOnly) {
  const std::string file = dir_.File("traffic.log");
  auto sink = Make(file);
  auto* queued = dynamic_cast<QueuedLogSink*>(sink.get());
  if (queued != nullptr) queued->Stop();
  EXPECT_FALSE(FileExists(file));
  sink = Make(file);
  Write(*sink, "first");
  Finish(sink);
  EXPECT_EQ(ReadFile(file), "first");
}

TEST_P(FileSinkTest, AppendsRawRecordsToExistingContentAcrossRuns) {
  const std::string file = dir_.File("traffic.log");
  logtesting::WriteFile(file, "old\r\n");
  auto sink = Make(file);
  Write(*sink, "GET / HTTP/1.0\r\n");
  Write(*sink, std::string("a\0b", 3));
  Write(*sink, "");
  Write(*sink, std::string("\0\0", 2));
  Finish(sink);
  // A second run appends after the first.
  sink = Make(file);
  Write(*sink, "no line end");
  Write(*sink, "after");
  Finish(sink);
  EXPECT_EQ(ReadFile(file), std::string("old\r\nGET / HTTP/1.0\r\na\0b\0\0no line endafter", 42));
}

TEST_P(FileSinkTest, UnopenableNamesDropRecordsSilently) {
  const std::string missing_folder = dir_.File("missing/traffic.log");
  for (const std::string& name : {std::string(), missing_folder, dir_.File("")}) {
    SCOPED_TRACE("name '" + name + "'");
    auto sink = Make(name);
    Write(*sink, "dropped");
    Finish(sink);
  }
  EXPECT_FALSE(FileExists(missing_folder));
}

// A failed open or a failed write loses only the record it hit. For the
// queued sink the two records may share a drain: the next record must still
// be tried.
TEST_P(FileSinkTest, AFailedOpenOrWriteLosesOnlyThatRecord) {
  for (const bool fail_open : {true, false}) {
    SCOPED_TRACE(fail_open ? "failed open" : "failed write");
    const std::string file = dir_.File(fail_open ? "open.log" : "write.log");
    FaultyFileAccess access;
    (fail_open ? access.opens_to_fail : access.writes_to_fail) = 1;
    auto sink = Make(file, &access);
    Write(*sink, "lost");
    Write(*sink, "kept");
    Finish(sink);
    EXPECT_EQ(ReadFile(file), "kept");
    EXPECT_EQ(access.open_descriptors, 0);
  }
}

TEST_P(FileSinkTest, ShortAndInterruptedWritesStillWriteEveryByte) {
  const std::string file = dir_.File("traffic.log");
  FaultyFileAccess access;
  access.max_write = 3;
  access.interrupt_every_other = true;
  auto sink = Make(file, &access);
  const std::string big(10384, 'x');
  Write(*sink, "0123456789");
  Write(*sink, big);
  Finish(sink);
  EXPECT_EQ(ReadFile(file), "0123456789" + big);
  EXPECT_EQ(access.open_descriptors, 0);
}

// Concurrent writers with writes cut into small pieces: the records must
// still lie whole, each once, because one sink delivers one record at a time.
TEST_P(FileSinkTest, ConcurrentWritersLoseAndInterleaveNothing) {
  const std::string file = dir_.File("traffic.log");
  FaultyFileAccess access;
  access.max_write = 7;
  auto sink = Make(file, &access);
  constexpr int kThreads = 6;
  constexpr int kRecords = 150;
  constexpr size_t kRecordSize = 64;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRecords; ++i) {
        char head[32];
        std::snprintf(head, sizeof head, "<%02d:%04d|", t, i);
        std::string record(head);
        record.resize(kRecordSize - 1, static_cast<char>('a' + t));
        record += '>';
        Write(*sink, record);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  Finish(sink);

  const std::string content = ReadFile(file);
  ASSERT_EQ(content.size(), kThreads * kRecords * kRecordSize);
  std::set<std::string> seen;
  for (size_t at = 0; at < content.size(); at += kRecordSize) {
    const std::string record = content.substr(at, kRecordSize);
    int t = -1;
    int i = -1;
    ASSERT_EQ(std::sscanf(record.c_str(), "<%2d:%4d|", &t, &i), 2) << "at " << at;
    std::string expected = record.substr(0, 9);
    expected.resize(kRecordSize - 1, static_cast<char>('a' + t));
    expected += '>';
    ASSERT_EQ(record, expected) << "torn record at " << at;
    EXPECT_TRUE(seen.insert(record.substr(0, 9)).second) << "twice: " << record;
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kRecords));
}

INSTANTIATE_TEST_SUITE_P(Kinds, FileSinkTest, ::testing::ValuesIn(kKinds),
                         [](const auto& test) { return std::string(test.param.name); });

// The queued sink opens the file once for all records it delivers together,
// not once per record.
TEST(QueuedFileLogSinkTest, OpensTheFileOncePerDrain) {
  TempDir dir;
  const std::string file = dir.File("traffic.log");
  FaultyFileAccess access;
  constexpr int kRecords = 200;
  {
    // The worker's first pass may take some of the records; Stop delivers
    // the rest in one more drain.
    QueuedLogSink::Options options;
    options.drain_period = std::chrono::hours(1);
    QueuedFileLogSink sink(file, options, &access);
    for (int i = 0; i < kRecords; ++i) {
      const std::string record = std::to_string(i) + ",";
      LogCall call;
      sink.Write(call, record.c_str(), static_cast<int32_t>(record.size()));
      sink.ReleaseOutput(call);
    }
  }
  std::string expected;
  for (int i = 0; i < kRecords; ++i) expected += std::to_string(i) + ",";
  EXPECT_EQ(ReadFile(file), expected);
  EXPECT_LE(access.opens, 2);
  EXPECT_EQ(access.open_descriptors, 0);
}

}  // namespace
}  // namespace portwick

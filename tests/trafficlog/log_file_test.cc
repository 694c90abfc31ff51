// The traffic log file kept open for a sink's life: the descriptor limit,
// rotation and removal, FIFOs, and records counted when they are lost.
#include "trafficlog/log_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#if !defined(_WIN32)
#include <sys/uio.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "descriptor_limit_hold.h"
#include "trafficlog/file_log_sink.h"
#include "trafficlog/queued_file_log_sink.h"
#include "trafficlog_test_support.h"

namespace portwick {
namespace {

using logtesting::FaultyFileAccess;
using logtesting::ReadFile;
using logtesting::TempDir;
using logtesting::WriteFile;

void Write(LogSink& sink, const std::string& record) {
  LogCall call;
  sink.Write(call, record.c_str(), static_cast<int32_t>(record.size()));
  sink.ReleaseOutput(call);
}

struct SinkKind {
  const char* name;
  std::function<std::unique_ptr<LogSinkBase>(const std::string&, LogFileAccess*,
                                             std::shared_ptr<LogLossCounter>)>
      make;
};

void PrintTo(const SinkKind& kind, std::ostream* os) { *os << kind.name; }

const SinkKind kKinds[] = {
    {"Sync",
     [](const std::string& file, LogFileAccess* access,
        std::shared_ptr<LogLossCounter> losses) -> std::unique_ptr<LogSinkBase> {
       return std::make_unique<FileLogSink>(file, access, std::move(losses));
     }},
    {"Queued",
     [](const std::string& file, LogFileAccess* access,
        std::shared_ptr<LogLossCounter> losses) -> std::unique_ptr<LogSinkBase> {
       return std::make_unique<QueuedFileLogSink>(file, QueuedLogSink::Options{}, access,
                                                  std::move(losses));
     }},
};

class FileSinkLossTest : public ::testing::TestWithParam<SinkKind> {
 protected:
  std::unique_ptr<LogSinkBase> Make(const std::string& file,
                                    LogFileAccess* access = LogFileAccess::Default()) {
    return GetParam().make(file, access, losses_);
  }

  TempDir dir_;
  std::vector<Status> reported_;
  std::shared_ptr<LogLossCounter> losses_ = std::make_shared<LogLossCounter>(
      [this](const Status& failure) { reported_.push_back(failure); });
};

// With every descriptor in use, the sessions still relay; their records must
// still reach the log, whether the file existed at the start or not.
TEST_P(FileSinkLossTest, RecordsReachTheFileAtTheDescriptorLimit) {
#if defined(PORTWICK_UBSAN_VPTR_NEEDS_DESCRIPTORS)
  GTEST_SKIP() << "the sanitizer's vptr check needs descriptors of its own";
#endif
  for (const bool existed : {true, false}) {
    SCOPED_TRACE(existed ? "existing file" : "created by the first record");
    const std::string file = dir_.File(existed ? "existing.log" : "new.log");
    if (existed) WriteFile(file, "old|");
    auto sink = Make(file);
    {
      const testing::DescriptorLimitHold limit;
      ASSERT_TRUE(limit.reached());
      Write(*sink, "first|");
      Write(*sink, std::string("sec\0nd", 6));
      sink.reset();  // the queued sink delivers here, still at the limit
    }
    EXPECT_EQ(ReadFile(file), (existed ? "old|" : "") + std::string("first|sec\0nd", 12));
  }
  EXPECT_EQ(losses_->Snapshot().records, 0u);
  EXPECT_TRUE(reported_.empty());
}

// Lost records are counted with their bytes; the first loss is reported
// once, with the step and the system's reason.
TEST_P(FileSinkLossTest, LostRecordsAreCountedAndTheFirstIsReportedOnce) {
  const std::string file = dir_.File("traffic.log");
  FaultyFileAccess access;
  access.writes_to_fail = 2;
  auto sink = Make(file, &access);
  Write(*sink, "lost-1");
  Write(*sink, "lost-two");
  Write(*sink, "kept");
  sink.reset();
  EXPECT_EQ(ReadFile(file), "kept");
  const LogLoss loss = losses_->Snapshot();
  EXPECT_EQ(loss.records, 2u);
  EXPECT_EQ(loss.bytes, 14u);
  EXPECT_EQ(loss.first_failure, Status::Error("write", EIO));
  ASSERT_EQ(reported_.size(), 1u);
  EXPECT_EQ(reported_[0], Status::Error("write", EIO));
  EXPECT_EQ(access.open_descriptors, 0);

  // A name that can't be opened loses every record, each counted.
  auto unopenable = Make(dir_.File("missing/traffic.log"));
  Write(*unopenable, "abc");
  Write(*unopenable, "de");
  unopenable.reset();
  EXPECT_EQ(losses_->Snapshot().records, 4u);
  EXPECT_EQ(losses_->Snapshot().bytes, 19u);
  EXPECT_EQ(reported_.size(), 1u);
}

// A FIFO that nobody reads must not hold the sink in its open: the record is
// lost (and counted) instead. Once a reader is there, records reach it.
TEST_P(FileSinkLossTest, AFifoWithoutAReaderNeverBlocksTheOpen) {
#if defined(_WIN32)
  GTEST_SKIP() << "POSIX only";
#else
  const std::string fifo = dir_.File("traffic.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto sink = Make(fifo);
  Write(*sink, "nobody reads");
  if (auto* queued = dynamic_cast<QueuedLogSink*>(sink.get())) {
    ASSERT_TRUE(logtesting::WaitUntil([&] { return queued->QueuedRecords() == 0; }));
  }
  EXPECT_EQ(losses_->Snapshot().records, 1u);
  EXPECT_EQ(losses_->Snapshot().first_failure.error_number(), ENXIO);

  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  Write(*sink, "read");
  sink.reset();
  char buffer[16] = {};
  EXPECT_EQ(read(reader, buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "read");
  close(reader);
#endif
}

INSTANTIATE_TEST_SUITE_P(Kinds, FileSinkLossTest, ::testing::ValuesIn(kKinds),
                         [](const auto& test) { return std::string(test.param.name); });

// A file renamed away (rotated) or removed is followed by a fresh file under
// the name, once the next look at the name is due; the old file keeps what
// it had and gets nothing more. New files are the owner's alone, whatever
// the umask would let through.
TEST(LogFileTest, RotatedOrRemovedFileIsOpenedAgainByItsName) {
#if defined(_WIN32)
  GTEST_SKIP() << "POSIX only";
#else
  TempDir dir;
  const mode_t old_mask = umask(0);
  const std::string file = dir.File("traffic.log");
  const std::string rotated = dir.File("traffic.log.1");
  LogLossCounter losses;
  LogFile log(LogFileAccess::Default(), file, &losses);
  auto now = std::chrono::steady_clock::now();

  ASSERT_TRUE(log.Append("one|", 4));
  ASSERT_EQ(std::rename(file.c_str(), rotated.c_str()), 0);
  // Before the interval has passed the name is not looked at.
  log.CheckRotation(now);
  ASSERT_TRUE(log.Append("two|", 4));
  now += LogFile::kRotationCheckInterval * 2;
  log.CheckRotation(now);
  ASSERT_TRUE(log.Append("three|", 6));
  EXPECT_EQ(ReadFile(rotated), "one|two|");
  EXPECT_EQ(ReadFile(file), "three|");

  ASSERT_EQ(std::remove(file.c_str()), 0);
  now += LogFile::kRotationCheckInterval * 2;
  log.CheckRotation(now);
  ASSERT_TRUE(log.Append("four|", 5));
  umask(old_mask);
  EXPECT_EQ(ReadFile(file), "four|");
  EXPECT_EQ(std::filesystem::status(file).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  // Nothing was lost, and an unchanged file is not opened again.
  now += LogFile::kRotationCheckInterval * 2;
  log.CheckRotation(now);
  ASSERT_TRUE(log.Append("five", 4));
  EXPECT_EQ(ReadFile(file), "four|five");
  EXPECT_EQ(losses.Snapshot().records, 0u);
#endif
}

// The file is opened once for the sink's life, not per record or drain.
TEST(LogFileTest, OneOpenForTheWholeRun) {
  TempDir dir;
  FaultyFileAccess access;
  LogLossCounter losses;
  {
    LogFile log(&access, dir.File("traffic.log"), &losses);
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(log.Append("x", 1));
  }
  EXPECT_EQ(access.opens, 1);
  EXPECT_EQ(access.open_descriptors, 0);
  EXPECT_EQ(ReadFile(dir.File("traffic.log")), std::string(100, 'x'));
}

// Real vectored writes, each cut short after `max_bytes` across the pieces,
// every third call interrupted, and the calls listed in `failing` failed.
class ShortVectorAccess : public FaultyFileAccess {
 public:
  ssize_t WriteVector(int fd, const WritePiece* pieces, int count) override {
    const int call = ++calls;
    if (call % 3 == 0) {
      errno = EINTR;
      return -1;
    }
    if (failing.count(call) > 0) {
      errno = ENOSPC;
      return -1;
    }
    std::vector<WritePiece> cut;
    size_t budget = max_bytes;
    for (int i = 0; i < count && budget > 0; ++i) {
      const size_t take = std::min(budget, pieces[i].length);
      cut.push_back({pieces[i].data, take});
      budget -= take;
    }
    return LogFileAccess::Default()->WriteVector(fd, cut.data(), static_cast<int>(cut.size()));
  }

  size_t max_bytes = 7;
  std::set<int> failing;
  int calls = 0;
};

// Many records in few writes must give the file exactly what one write per
// record gives, whatever the writes cut; a failed write loses only the
// record it hit, counted with the bytes not written.
TEST(LogFileTest, RecordsWrittenTogetherLandWholeAndInOrder) {
  TempDir dir;
  const std::string file = dir.File("traffic.log");
  const std::vector<std::string> texts = {
      "alpha", "",      std::string("b\0t", 3), std::string(40, 'c'),
      "",      "delta", std::string(13, 'e'),   "f"};
  std::vector<LogRecord> records;
  for (const std::string& text : texts) {
    records.push_back({text.data(), static_cast<int32_t>(text.size())});
  }
  std::string all;
  for (const std::string& text : texts) all += text;
  for (const size_t cut : {size_t{1}, size_t{7}, size_t{1000}}) {
    SCOPED_TRACE("writes cut at " + std::to_string(cut));
    std::remove(file.c_str());
    ShortVectorAccess access;
    access.max_bytes = cut;
    LogLossCounter losses;
    {
      LogFile log(&access, file, &losses);
      EXPECT_EQ(log.AppendRecords(records.data(), records.size()), records.size());
    }
    EXPECT_EQ(ReadFile(file), all);
    EXPECT_EQ(losses.Snapshot().records, 0u);
    EXPECT_EQ(access.open_descriptors, 0);
  }

  // The second call fails while "alpha" is partly written: its rest is lost
  // (the file keeps the part), the following records are written.
  std::remove(file.c_str());
  ShortVectorAccess access;
  access.max_bytes = 3;
  access.failing = {2};
  LogLossCounter losses;
  {
    LogFile log(&access, file, &losses);
    EXPECT_EQ(log.AppendRecords(records.data(), records.size()), records.size() - 1);
  }
  EXPECT_EQ(ReadFile(file), "alp" + all.substr(5));
  EXPECT_EQ(losses.Snapshot().records, 1u);
  EXPECT_EQ(losses.Snapshot().bytes, 2u);
  EXPECT_EQ(losses.Snapshot().first_failure, Status::Error("write", ENOSPC));
}

// A record waiting in a pipe goes to the end of an appending file without
// passing through user space, after what the file held; a file that can't
// take it (a FIFO) says so and is left untouched.
TEST(LogFileTest, APipedRecordIsSplicedToTheEnd) {
#if defined(_WIN32)
  GTEST_SKIP() << "no pipes to splice from on Windows";
#else
  TempDir dir;
  const std::string name = dir.File("traffic.log");
  WriteFile(name, "earlier\n");
  LogFile file(LogFileAccess::Default(), name, nullptr);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(write(ends[1], "piped", 5), 5);
  EXPECT_EQ(file.AppendFromPipe(ends[0], 5), LogFile::PipeAppend::kWritten);
  EXPECT_EQ(ReadFile(name), "earlier\npiped");
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  LogFile to_fifo(LogFileAccess::Default(), fifo, nullptr);
  ASSERT_EQ(write(ends[1], "queued", 6), 6);
  EXPECT_EQ(to_fifo.AppendFromPipe(ends[0], 6), LogFile::PipeAppend::kRefused);
  for (const int fd : {ends[0], ends[1], reader}) close(fd);
#endif
}

}  // namespace
}  // namespace portwick

// Exports of captured sessions: each direction's bytes exactly, a transcript
// that decodes back to them, pcapng that tshark follows back to them, and
// failures that say which step failed and why.
#include "ui/sessions/session_export.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/session_label.h"
#include "capture_events.h"
#include "owner_only.h"
#include "read_file.h"
#include "trace_decoder.h"
#include "trafficlog_test_support.h"
#include "tshark_reader.h"

namespace portwick {
namespace {

using testing::EventFeeder;
using testing::ReadFile;
constexpr Direction kUp = Direction::kClientToServer;
constexpr Direction kDown = Direction::kServerToClient;

class SessionExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Session 1: text and binary both ways, closed; session 2: failed.
    feeder_.OpenAndConnect(1);
    feeder_.Chunk(1, kUp, "GET / HTTP/1.1\r\n\r\n");
    feeder_.Chunk(1, kDown, binary_);
    feeder_.Chunk(1, kUp, std::string("\0\0tail", 6));
    feeder_.Chunk(1, kDown, "HTTP/1.1 200 OK\r\n");
    feeder_.HalfClose(1, kUp);
    feeder_.HalfClose(1, kDown);
    feeder_.Close(1, CloseReason::kBothFinished, 24, binary_.size() + 17);
    feeder_.Open(2);
    feeder_.FailConnect(2, "connect", 111, "Connection refused");
    feeder_.Close(2, CloseReason::kConnectFailed);
  }
  std::string Path(const char* name) const { return dir_.File(name); }

  const std::string binary_ = [] {
    std::string bytes;
    for (int i = 0; i < 700; ++i) bytes += static_cast<char>(i * 37 % 256);
    return bytes;
  }();
  const std::string up_ = std::string("GET / HTTP/1.1\r\n\r\n") + std::string("\0\0tail", 6);
  const std::string down_ = binary_ + "HTTP/1.1 200 OK\r\n";
  logtesting::TempDir dir_;
  CaptureStore store_;
  EventFeeder feeder_{&store_};
};

TEST_F(SessionExportTest, EachDirectionByteExact) {
  ASSERT_TRUE(ExportDirection(store_, 1, kUp, Path("up.bin")).ok());
  ASSERT_TRUE(ExportDirection(store_, 1, kDown, Path("down.bin")).ok());
  EXPECT_EQ(ReadFile(Path("up.bin")), up_);
  EXPECT_EQ(ReadFile(Path("down.bin")), down_);
  // Other people's traffic: readable by its owner only.
  EXPECT_TRUE(testing::OwnerOnly(Path("up.bin")));
  // An existing file is replaced, not appended to.
  ASSERT_TRUE(ExportDirection(store_, 1, kUp, Path("down.bin")).ok());
  EXPECT_EQ(ReadFile(Path("down.bin")), up_);
}

TEST_F(SessionExportTest, TranscriptDecodesBackToTheBytesAndNamesTheEvents) {
  ASSERT_TRUE(ExportTranscript(store_, 1, Path("one.txt")).ok());
  const std::string text = ReadFile(Path("one.txt"));
  EXPECT_EQ(text, TranscriptText(store_, 1));
  const testing::DecodedTrace trace = testing::DecodeTrace(text, testing::TraceBody::kText);
  ASSERT_TRUE(trace.ok) << trace.error;
  EXPECT_EQ(trace.streams.at({"1", '>'}), up_);
  EXPECT_EQ(trace.streams.at({"1", '<'}), down_);
  ASSERT_FALSE(trace.events.empty());
  EXPECT_EQ(trace.events.front().second, "open from 127.0.0.1:40001");
  EXPECT_TRUE(trace.events.back().second.starts_with("closed: client FIN, server FIN; 24 bytes up"))
      << trace.events.back().second;

  const std::string failed = TranscriptText(store_, 2);
  EXPECT_NE(failed.find("#2 cannot connect to localhost:2007: Connection refused"),
            std::string::npos)
      << failed;

  // A session of a run's second forward keeps its label.
  feeder_.Open(CaptureKey(2, 1));
  EXPECT_NE(TranscriptText(store_, CaptureKey(2, 1)).find(" #2.1 open from "), std::string::npos);
}

TEST_F(SessionExportTest, PcapngThatTsharkFollowsBackToTheBytes) {
  if (!testing::HaveTshark()) GTEST_SKIP() << "tshark is not installed";
  ASSERT_TRUE(ExportPcapng(store_, {}, Path("all.pcapng")).ok());
  ASSERT_TRUE(ExportPcapng(store_, {1}, Path("one.pcapng")).ok());
  for (const char* name : {"all.pcapng", "one.pcapng"}) {
    const testing::FollowedStream stream = testing::FollowTcpStream(Path(name), 0);
    EXPECT_EQ(stream.from0, up_) << name;  // the client sent the first packet
    EXPECT_EQ(stream.from1, down_) << name;
  }
}

TEST_F(SessionExportTest, FailuresNameTheStepAndTheReason) {
  struct Case {
    const char* name;
    Status status;
    std::string step;
    std::string reason;
  };
  const std::string missing_dir = Path("no/such/dir/file");
  std::vector<Case> cases = {
      {"bytes", ExportDirection(store_, 1, kUp, missing_dir), "open", "No such file or directory"},
      {"transcript", ExportTranscript(store_, 1, missing_dir), "open", "No such file or directory"},
      {"pcapng", ExportPcapng(store_, {}, missing_dir), "open", "No such file or directory"},
      {"gone_session", ExportTranscript(store_, 9, Path("x")), "find",
       "session 9 is no longer captured"},
  };
#ifndef _WIN32
  cases.push_back({"full_disk", ExportDirection(store_, 1, kDown, "/dev/full"), "write",
                   "No space left on device"});
#endif
  for (const Case& c : cases) {
    EXPECT_FALSE(c.status.ok()) << c.name;
    EXPECT_EQ(c.status.step(), c.step) << c.name;
    EXPECT_EQ(c.status.reason(), c.reason) << c.name;
  }
}

}  // namespace
}  // namespace portwick

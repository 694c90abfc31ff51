// Relay pump behaviour driven through a scripted socket seam: what the sink
// sees, what is sent, and how the session ends.

#include "engine/relay_pump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "engine/log_sink_handle.h"
#include "engine/message_framer.h"
#include "engine/session.h"
#include "engine/session_observer.h"
#include "engine/socket_layer.h"
#include "recording_observer.h"
#include "recording_sink.h"
#include "test_server.h"

namespace portwick {
namespace {

using testing::RecordingSink;

constexpr int32_t kBuf = RelayPump::kBufferSize;

// Plays back a list of received chunks (each split further when the pump
// asks for fewer bytes), then end-of-stream or an error; collects what is
// sent, optionally in short pieces or failing after some bytes.
class ScriptedIo : public SocketIo {
 public:
  std::deque<std::string> chunks;
  ssize_t final_recv = 0;        // after the chunks: 0 or -errno
  size_t max_send = SIZE_MAX;    // bytes accepted per Send call
  size_t fail_after = SIZE_MAX;  // Send fails once this many were sent
  ssize_t send_error = -EPIPE;   // what the failing Send returns
  bool all_ready = false;        // every scripted byte is there at once
  std::vector<std::string>* events = nullptr;
  std::mutex* events_mutex = nullptr;

  std::string sent;
  std::vector<size_t> recv_room;  // lengths the pump asked for

  ssize_t Recv(SocketHandle, char* buffer, size_t length) override {
    Note("recv");
    recv_room.push_back(length);
    if (chunks.empty()) return final_recv;
    std::string& front = chunks.front();
    const size_t n = std::min(length, front.size());
    std::copy_n(front.data(), n, buffer);
    front.erase(0, n);
    if (front.empty()) chunks.pop_front();
    return static_cast<ssize_t>(n);
  }

  ssize_t RecvIfReady(SocketHandle fd, char* buffer, size_t length) override {
    return all_ready ? Recv(fd, buffer, length) : -EAGAIN;
  }

  ssize_t Send(SocketHandle, const char* data, size_t length) override {
    if (sent.size() >= fail_after) {
      Note("send failed");
      return send_error;
    }
    const size_t n = std::min({length, max_send, fail_after - sent.size()});
    sent.append(data, n);
    Note("send " + std::to_string(n));
    return static_cast<ssize_t>(n);
  }

 private:
  void Note(const std::string& event) {
    if (events == nullptr) return;
    std::lock_guard<std::mutex> lock(*events_mutex);
    events->push_back(event);
  }
};

// Messages end with '\n'. A message that fills a whole buffer without one
// is remembered, and the message that finally ends is a continuation.
class LineFramer : public MessageFramer {
 public:
  bool FindMessageEnd(const char* start, int32_t length, const char** end) override {
    const char* newline = std::find(start, start + length, '\n');
    if (newline == start + length) {
      if (length == kBuf) in_progress_ = true;
      return false;
    }
    *end = newline + 1;
    continuation_ = in_progress_;
    in_progress_ = false;
    return true;
  }
  bool ReservedQuery() override { return false; }
  bool IsContinuation() override { return continuation_; }

 private:
  bool in_progress_ = false;
  bool continuation_ = false;
};

// Claims a message that ends past the data it was given.
class OverreachingFramer : public MessageFramer {
 public:
  bool FindMessageEnd(const char* start, int32_t length, const char** end) override {
    *end = start + length + 1;
    return true;
  }
  bool ReservedQuery() override { return false; }
  bool IsContinuation() override { return false; }
};

// Pattern bytes without any '\n', for messages that must not end early.
std::string Body(size_t count, unsigned seed = 1) {
  std::string bytes = testing::PatternBytes(count, seed);
  std::replace(bytes.begin(), bytes.end(), '\n', 'n');
  return bytes;
}

std::string Concat(const std::vector<std::string>& parts) {
  std::string all;
  for (const std::string& p : parts) all += p;
  return all;
}

class RelayPumpTest : public ::testing::Test {
 protected:
  RelayPumpTest() {
    layer_.Startup();
    session_ = std::make_shared<Session>(&layer_, Socket(), Socket());
  }
  ~RelayPumpTest() override { layer_.Cleanup(); }

  // Runs one pump over the script to its end on this thread.
  void RunPump(std::unique_ptr<MessageFramer> framer,
               std::shared_ptr<LogSinkHandle> handle = nullptr) {
    RelayPump pump(session_, Direction::kClientToServer, std::move(framer), std::move(handle),
                   &io_);
    pump.Run();
  }
  std::shared_ptr<LogSinkHandle> HandleFor(LogSink* sink) {
    return std::make_shared<LogSinkHandle>(sink);
  }

  SocketLayer layer_;
  std::shared_ptr<Session> session_;
  ScriptedIo io_;
};

TEST_F(RelayPumpTest, PassThroughForwardsEachReceiveAsOneZeroTerminatedRecord) {
  const std::string with_zeros("a\0b\0\0c", 6);
  io_.chunks = {with_zeros, Body(kBuf, 2), "x", Body(25000, 3)};
  RecordingSink sink;
  RunPump(std::make_unique<PassThroughFramer>(), HandleFor(&sink));

  const std::string big = Body(25000, 3);
  const std::vector<std::string> expected = {
      with_zeros,          Body(kBuf, 2),          "x",
      big.substr(0, kBuf), big.substr(kBuf, kBuf), big.substr(2 * kBuf)};
  EXPECT_EQ(sink.records(), expected);
  EXPECT_EQ(io_.sent, Concat(expected));
  EXPECT_EQ(sink.missing_terminators(), 0);
  EXPECT_EQ(sink.unbalanced_calls(), 0);
  // Every receive asks for a whole buffer.
  for (size_t room : io_.recv_room) EXPECT_EQ(room, static_cast<size_t>(kBuf));
  // End of stream is passed on as a half-close, not a reset.
  EXPECT_FALSE(session_->cancelled());
}

struct FramingCase {
  const char* name;
  std::vector<std::string> chunks;
  std::vector<std::string> records;
};

void PrintTo(const FramingCase& c, std::ostream* os) { *os << c.name; }

class RelayPumpFramingTest : public RelayPumpTest,
                             public ::testing::WithParamInterface<FramingCase> {};

TEST_P(RelayPumpFramingTest, RecordsFollowMessageBoundariesAndEveryByteIsSent) {
  const FramingCase& c = GetParam();
  io_.chunks.assign(c.chunks.begin(), c.chunks.end());
  RecordingSink sink;
  RunPump(std::make_unique<LineFramer>(), HandleFor(&sink));

  EXPECT_EQ(sink.records(), c.records);
  // Messages ended early get a zero after them while the sink holds them,
  // and the byte is restored before it is sent.
  EXPECT_EQ(sink.missing_terminators(), 0);
  EXPECT_EQ(io_.sent, Concat(c.chunks));
  EXPECT_FALSE(session_->cancelled());
}

const std::string kPartialTail = Body(kBuf - 3, 5);  // fills the buffer after "m1\n"
const std::string kLong = Body(25000, 6);

INSTANTIATE_TEST_SUITE_P(
    Paths, RelayPumpFramingTest,
    ::testing::Values(
        FramingCase{"SeveralMessagesInOneReceive", {"a\nbb\nccc\n"}, {"a\n", "bb\n", "ccc\n"}},
        FramingCase{"MessageSplitOverReceives", {"ab", "c\nd", "e\n"}, {"abc\n", "de\n"}},
        FramingCase{"ContinuationAcrossFullBuffers", {kLong + "\nx\n"}, {kLong + "\n", "x\n"}},
        // The partial message after "m1\n" reaches the buffer's end; it is
        // moved to the front and completed by later receives.
        FramingCase{"PartialMessageReachingBufferEnd",
                    {"m1\n" + kPartialTail, "abc\n"},
                    {"m1\n", kPartialTail + "abc\n"}},
        FramingCase{"IncompleteTailAtEndOfStream", {"abc\nde"}, {"abc\n", "de"}},
        FramingCase{"IncompleteTailAfterFullBuffers", {kLong}, {kLong}}),
    [](const ::testing::TestParamInfo<FramingCase>& test) { return test.param.name; });

TEST_F(RelayPumpTest, PartialMessageAtBufferEndLeavesRoomForTheNextReceive) {
  io_.chunks = {"m1\n" + kPartialTail, "abc\n"};
  RunPump(std::make_unique<LineFramer>());
  ASSERT_GE(io_.recv_room.size(), 2u);
  // The 10381 bytes of the partial message were moved to the front, so the
  // second receive asks for the 3 bytes left, never for 0.
  EXPECT_EQ(io_.recv_room[1], 3u);
  EXPECT_EQ(io_.sent, "m1\n" + kPartialTail + "abc\n");
}

TEST_F(RelayPumpTest, SinkCallsFollowTheCallingOrderAroundEachSend) {
  std::vector<std::string> events;
  std::mutex events_mutex;
  io_.events = &events;
  io_.events_mutex = &events_mutex;
  io_.max_send = 2;
  io_.chunks = {"abc"};
  RecordingSink sink(&events, &events_mutex);
  RunPump(std::make_unique<PassThroughFramer>(), HandleFor(&sink));

  const std::vector<std::string> expected = {"recv",   "Write 3", "OutputLength",  "OutputData",
                                             "send 2", "send 1",  "ReleaseOutput", "recv"};
  EXPECT_EQ(events, expected);
}

// A sink that lets the relay send its output after ReleaseOutput.
class GatheringSink : public RecordingSink {
 public:
  using RecordingSink::RecordingSink;
  bool MaySendAfterRelease() const override { return true; }
};

TEST_F(RelayPumpTest, RecordsReadyTogetherAreSentTogetherWhereTheSinkAllowsIt) {
  const std::vector<std::string> chunks = {Body(kBuf, 1), Body(kBuf, 2), Body(kBuf, 3),
                                           Body(kBuf, 4), Body(kBuf, 5), Body(kBuf, 6),
                                           Body(kBuf, 7), "tail"};
  struct Case {
    const char* name;
    bool all_ready;
    bool sink_allows;
    ssize_t final_recv;
    std::vector<size_t> sends;
  };
  const size_t six = 6 * static_cast<size_t>(kBuf);
  const Case cases[] = {
      {"all ready, sink allows", true, true, 0, {six, static_cast<size_t>(kBuf) + 4}},
      // Bytes before a receive error still go out before the reset.
      {"all ready, then a reset", true, true, -ECONNRESET, {six, static_cast<size_t>(kBuf) + 4}},
      {"all ready, sink keeps the calling order", true, false, 0, {}},
      {"each receive waits", false, true, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedIo io;
    io.chunks = {chunks.begin(), chunks.end()};
    io.all_ready = c.all_ready;
    io.final_recv = c.final_recv;
    std::vector<std::string> events;
    std::mutex events_mutex;
    io.events = &events;
    io.events_mutex = &events_mutex;
    auto session = std::make_shared<Session>(&layer_, Socket(), Socket());
    std::unique_ptr<RecordingSink> sink =
        c.sink_allows ? std::make_unique<GatheringSink>() : std::make_unique<RecordingSink>();
    {
      RelayPump pump(session, Direction::kClientToServer, std::make_unique<PassThroughFramer>(),
                     HandleFor(sink.get()), &io);
      pump.Run();
    }
    EXPECT_TRUE(io.sent == Concat(chunks)) << "the bytes sent differ";
    EXPECT_TRUE(sink->records() == chunks) << "the records logged differ";
    EXPECT_EQ(sink->unbalanced_calls(), 0);
    EXPECT_EQ(session->cancelled(), c.final_recv != 0);
    std::vector<size_t> sends;
    for (const std::string& event : events) {
      if (event.rfind("send ", 0) == 0) sends.push_back(std::stoul(event.substr(5)));
    }
    // Without gathering, one send per record.
    std::vector<size_t> expected = c.sends;
    if (expected.empty()) {
      for (const std::string& chunk : chunks) expected.push_back(chunk.size());
    }
    EXPECT_EQ(sends, expected);
  }
}

TEST_F(RelayPumpTest, SendsWhatTheSinkPassesOn) {
  io_.chunks = {"abc", "de"};
  RecordingSink sink(nullptr, nullptr, [](const std::string& in) { return "<" + in + ">"; });
  RunPump(std::make_unique<PassThroughFramer>(), HandleFor(&sink));
  EXPECT_EQ(io_.sent, "<abc><de>");
  EXPECT_EQ(sink.unbalanced_calls(), 0);
}

TEST_F(RelayPumpTest, ShortSendsDeliverEveryByte) {
  const std::string data = Body(30000, 7);
  io_.chunks = {data};
  io_.max_send = 7;
  RunPump(std::make_unique<PassThroughFramer>());
  EXPECT_EQ(io_.sent, data);
  EXPECT_FALSE(session_->cancelled());
}

TEST_F(RelayPumpTest, FailedSendResetsTheSessionAndStopsReceiving) {
  io_.chunks = {"abcdef", "never read"};
  io_.fail_after = 4;
  RecordingSink sink;
  RunPump(std::make_unique<PassThroughFramer>(), HandleFor(&sink));
  EXPECT_TRUE(session_->cancelled());
  EXPECT_EQ(io_.sent, "abcd");
  ASSERT_EQ(io_.chunks.size(), 1u);
  EXPECT_EQ(io_.chunks.front(), "never read");
  // The sink still got its ReleaseOutput.
  EXPECT_EQ(sink.unbalanced_calls(), 0);
}

TEST_F(RelayPumpTest, ReceiveErrorResetsTheSession) {
  io_.chunks = {"abc"};
  io_.final_recv = -ECONNRESET;
  RunPump(std::make_unique<PassThroughFramer>());
  EXPECT_EQ(io_.sent, "abc");
  EXPECT_TRUE(session_->cancelled());
}

TEST_F(RelayPumpTest, DetachedSinkHandleEndsTheSessionWithoutForwarding) {
  RecordingSink sink;
  auto handle = HandleFor(&sink);
  handle->Detach(nullptr);
  io_.chunks = {"abc", "def"};
  RunPump(std::make_unique<PassThroughFramer>(), handle);
  EXPECT_TRUE(session_->cancelled());
  EXPECT_EQ(io_.sent, "");
  EXPECT_TRUE(sink.records().empty());
}

TEST_F(RelayPumpTest, HandleWithoutSinkPassesBytesUnchanged) {
  io_.chunks = {"abc", std::string("\0z", 2)};
  RunPump(std::make_unique<PassThroughFramer>(), HandleFor(nullptr));
  EXPECT_EQ(io_.sent, std::string("abc\0z", 5));
  EXPECT_FALSE(session_->cancelled());
}

TEST_F(RelayPumpTest, FramerEndingPastTheDataResetsTheSession) {
  io_.chunks = {"abc"};
  RunPump(std::make_unique<OverreachingFramer>());
  EXPECT_TRUE(session_->cancelled());
  EXPECT_EQ(io_.sent, "");
}

struct PumpEndingCase {
  const char* name;
  Direction direction = Direction::kClientToServer;
  std::deque<std::string> chunks;
  ssize_t final_recv = 0;        // as ScriptedIo
  size_t fail_after = SIZE_MAX;  // as ScriptedIo
  ssize_t send_error = 0;        // as ScriptedIo
  bool detach_sink = false;
  bool overreach = false;  // the framer reads past what it was given
  std::vector<std::string> events;
  std::string reported = "";  // the chunks' bytes, joined
  CloseReason how = CloseReason::kBothFinished;
  const char* step = "";  // of SessionClosed::error; "" when ok
  int error_number = 0;
};

void PrintTo(const PumpEndingCase& c, std::ostream* os) { *os << c.name; }

class RelayPumpEndingTest : public RelayPumpTest,
                            public ::testing::WithParamInterface<PumpEndingCase> {};

TEST_P(RelayPumpEndingTest, ReportsWhatWasSentOnAndHowTheDirectionEnded) {
  const PumpEndingCase& c = GetParam();
  auto observer = std::make_shared<testing::RecordingObserver>();
  const EventTime opened = EventTime::Now();
  // The fixture's layer, borrowed.
  session_ = std::make_shared<Session>(
      std::shared_ptr<SocketLayer>(std::shared_ptr<void>(), &layer_), Socket(),
      SessionIdentity{7, {}, {}, opened, observer, {}, 0, {}, nullptr});
  io_.chunks = c.chunks;
  io_.final_recv = c.final_recv;
  io_.fail_after = c.fail_after;
  io_.send_error = c.send_error;
  // The sink passes on more than it was given: the chunks are what was sent.
  RecordingSink sink(nullptr, nullptr, [](const std::string& in) { return "[" + in + "]"; });
  auto handle = HandleFor(&sink);
  if (c.detach_sink) handle->Detach(nullptr);
  {
    std::unique_ptr<MessageFramer> framer;
    if (c.overreach) {
      framer = std::make_unique<OverreachingFramer>();
    } else {
      framer = std::make_unique<PassThroughFramer>();
    }
    RelayPump pump(session_, c.direction, std::move(framer), handle, &io_);
    pump.Run();
  }
  session_.reset();  // the last reference: SessionClosed comes now

  const std::map<SessionId, testing::ObservedSession> sessions = observer->sessions();
  ASSERT_EQ(sessions.size(), 1u);
  const testing::ObservedSession& s = sessions.at(7);
  EXPECT_EQ(s.events, c.events);
  const bool up = c.direction == Direction::kClientToServer;
  EXPECT_EQ(up ? s.up : s.down, c.reported);
  EXPECT_EQ(up ? s.down : s.up, "");
  for (const EventTime& time : up ? s.up_times : s.down_times) {
    EXPECT_GE(time.monotonic, opened.monotonic);
  }
  ASSERT_EQ(s.closed.size(), 1u);
  const SessionClosed& closed = s.closed.front();
  EXPECT_EQ(closed.how, c.how);
  EXPECT_EQ(closed.error.step(), c.step) << closed.error.Message();
  EXPECT_EQ(closed.error.error_number(), c.error_number);
  EXPECT_EQ(up ? closed.bytes_up : closed.bytes_down, c.reported.size());
  EXPECT_EQ(up ? closed.bytes_down : closed.bytes_up, 0u);
}

constexpr Direction kUp = Direction::kClientToServer;
constexpr Direction kDown = Direction::kServerToClient;
const std::vector<std::string> kTwoChunksThenClosed = {"chunk >", "chunk >", "closed"};

INSTANTIATE_TEST_SUITE_P(
    Endings, RelayPumpEndingTest,
    ::testing::Values(PumpEndingCase{.name = "EndOfStream",
                                     .chunks = {"ab", std::string("\0c", 2)},
                                     .events = {"chunk >", "chunk >", "half-close >", "closed"},
                                     .reported = std::string("[ab][\0c]", 8)},
                      PumpEndingCase{.name = "ClientResets",
                                     .chunks = {"ab", "c"},
                                     .final_recv = -ECONNRESET,
                                     .events = kTwoChunksThenClosed,
                                     .reported = "[ab][c]",
                                     .how = CloseReason::kResetByClient,
                                     .step = "recv",
                                     .error_number = ECONNRESET},
                      PumpEndingCase{.name = "ServerResets",
                                     .direction = kDown,
                                     .chunks = {"ab"},
                                     .final_recv = -ECONNRESET,
                                     .events = {"chunk <", "closed"},
                                     .reported = "[ab]",
                                     .how = CloseReason::kResetByServer,
                                     .step = "recv",
                                     .error_number = ECONNRESET},
                      PumpEndingCase{.name = "SendToAServerGone",
                                     .chunks = {"abcd", "never"},
                                     .fail_after = 2,
                                     .send_error = -EPIPE,
                                     .events = {"chunk >", "closed"},
                                     .reported = "[abcd]",
                                     .how = CloseReason::kResetByServer,
                                     .step = "send",
                                     .error_number = EPIPE},
                      PumpEndingCase{.name = "SendToAClientThatReset",
                                     .direction = kDown,
                                     .chunks = {"abcd"},
                                     .fail_after = 2,
                                     .send_error = -ECONNRESET,
                                     .events = {"chunk <", "closed"},
                                     .reported = "[abcd]",
                                     .how = CloseReason::kResetByClient,
                                     .step = "send",
                                     .error_number = ECONNRESET},
                      PumpEndingCase{.name = "SendTimesOut",
                                     .chunks = {"abcd"},
                                     .fail_after = 0,
                                     .send_error = -ETIMEDOUT,
                                     .events = {"chunk >", "closed"},
                                     .reported = "[abcd]",
                                     .how = CloseReason::kSendError,
                                     .step = "send",
                                     .error_number = ETIMEDOUT},
                      PumpEndingCase{.name = "SinkReleased",
                                     .chunks = {"abcd"},
                                     .detach_sink = true,
                                     .events = {"closed"},
                                     .how = CloseReason::kStopped,
                                     .step = "log"},
                      PumpEndingCase{.name = "FramerOutOfBounds",
                                     .chunks = {"abcd"},
                                     .overreach = true,
                                     .events = {"closed"},
                                     .how = CloseReason::kStopped,
                                     .step = "framer"}),
    [](const ::testing::TestParamInfo<PumpEndingCase>& test) { return test.param.name; });

TEST_F(RelayPumpTest, AResetAfterBothHalfClosesWerePassedOnEndsNothing) {
  for (const bool both : {true, false}) {
    SCOPED_TRACE(both ? "both directions finished" : "one direction finished");
    auto observer = std::make_shared<testing::RecordingObserver>();
    session_ = std::make_shared<Session>(
        std::shared_ptr<SocketLayer>(std::shared_ptr<void>(), &layer_), Socket(),
        SessionIdentity{7, {}, {}, EventTime::Now(), observer, {}, 0, {}, nullptr});
    for (const Direction direction : {kUp, kDown}) {
      if (direction == kDown && !both) break;
      ScriptedIo io;
      io.chunks = {"x"};
      RelayPump(session_, direction, std::make_unique<PassThroughFramer>(), nullptr, &io).Run();
    }
    session_->Reset();  // what a Stop does to every session still held
    session_.reset();
    const std::vector<SessionClosed> closed = observer->sessions().at(7).closed;
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed.front().how, both ? CloseReason::kBothFinished : CloseReason::kStopped);
  }
}

}  // namespace
}  // namespace portwick

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "capture/session_label.h"
#include "capture/trace_format.h"
#include "capture/trace_writer.h"
#include "capture_events.h"
#include "trace_decoder.h"

namespace portwick {
namespace {

using testing::DecodedTrace;
using testing::DecodeTrace;
using testing::EventFeeder;
using testing::MemoryFile;
using testing::TraceBody;

constexpr auto kUp = Direction::kClientToServer;
constexpr auto kDown = Direction::kServerToClient;

// Local time is UTC for every test here, so clock texts are known.
class UtcEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
#if defined(_WIN32)
    _putenv_s("TZ", "UTC");
    _tzset();
#else
    setenv("TZ", "UTC", 1);
    tzset();
#endif
  }
};
const auto* const kUtc = ::testing::AddGlobalTestEnvironment(new UtcEnvironment);

std::string Escaped(const std::string& bytes) {
  std::string out;
  AppendEscapedText(out, bytes.data(), bytes.size());
  return out;
}

TEST(TraceFormatTest, EscapedText) {
  struct Case {
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {
      {"", ""},
      {"GET / HTTP/1.1\r\n\r\n", "GET / HTTP/1.1\\r\n\\r\n"},
      {"HTTP/1.1 200 OK\r\n", "HTTP/1.1 200 OK\\r\n"},
      {"no newline", "no newline\n"},
      {"ends in LF\n", "ends in LF\n"},
      {std::string("\0a\0", 3), "\\0a\\0\n"},
      {"tab\there", "tab\\there\n"},
      {"back\\slash", "back\\\\slash\n"},
      {"\x1b[31m", "\\x1b[31m\n"},  // a terminal escape never reaches the terminal
      {"\x7f\x01\xff", "\\x7f\\x01\\xff\n"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\n"},
      // Broken or forbidden UTF-8: a cut sequence, an overlong '/', a
      // surrogate, above U+10FFFF, a C1 control (U+009B).
      {"\xc3", "\\xc3\n"},
      {"\xe2\x82", "\\xe2\\x82\n"},
      {"\xc0\xaf", "\\xc0\\xaf\n"},
      {"\xed\xa0\x80", "\\xed\\xa0\\x80\n"},
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80\n"},
      {"\xc2\x9b", "\\xc2\\x9b\n"},
      {"\xc2\x9f", "\\xc2\\x9f\n"},
      {"\xc2\xa0", "\xc2\xa0\n"},
      // Invisible format characters: U+202E (right-to-left override), U+200B,
      // U+2066, U+FEFF, U+00AD, U+061C, the tag U+E0041, and U+2028.
      {"a\xe2\x80\xae!", "a\\xe2\\x80\\xae!\n"},
      {"\xe2\x80\x8b\xe2\x81\xa6\xef\xbb\xbf", "\\xe2\\x80\\x8b\\xe2\\x81\\xa6\\xef\\xbb\\xbf\n"},
      {"\xc2\xad\xd8\x9c\xf3\xa0\x81\x81\xe2\x80\xa8",
       "\\xc2\\xad\\xd8\\x9c\\xf3\\xa0\\x81\\x81\\xe2\\x80\\xa8\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Escaped(c.bytes), c.text);
  }
}

TEST(TraceFormatTest, HexDump) {
  std::string bytes = "GET / HTTP/1.1\r\n";
  bytes += std::string("\0\xff!", 3);
  std::string out;
  AppendHexDump(out, bytes.data(), bytes.size());
  EXPECT_EQ(out,
            "0000  47 45 54 20 2f 20 48 54  54 50 2f 31 2e 31 0d 0a  |GET / HTTP/1.1..|\n"
            "0010  00 ff 21                                          |..!|\n");
  out.clear();
  AppendHexDump(out, "x", 1, 0x12340);
  EXPECT_EQ(out, "12340  78                                                |x|\n");
}

TEST(TraceFormatTest, CountsAndTimes) {
  EXPECT_EQ(ByteCount(0), "0 bytes");
  EXPECT_EQ(ByteCount(1), "1 byte");
  EXPECT_EQ(ByteCount(17), "17 bytes");
  EXPECT_EQ(Milliseconds(std::chrono::microseconds(300)), "0.3 ms");
  EXPECT_EQ(Milliseconds(std::chrono::microseconds(76500)), "76.5 ms");
  EXPECT_EQ(Milliseconds(std::chrono::microseconds(76549)), "76.5 ms");
  EXPECT_EQ(Milliseconds(std::chrono::microseconds(76550)), "76.6 ms");
  EXPECT_EQ(Milliseconds(std::chrono::seconds(90)), "90000.0 ms");
  std::string clock;
  AppendClockTime(clock, std::chrono::system_clock::time_point(std::chrono::microseconds(
                             1772366400LL * 1000000 + 3723 * 1000000LL + 4567)));
  EXPECT_EQ(clock, "13:02:03.004567");
}

std::string TraceOf(TraceMode mode, void (*feed)(EventFeeder&)) {
  MemoryFile file;
  {
    TraceWriter writer(file.fd(), mode);
    EventFeeder feeder(&writer);
    feed(feeder);
    writer.Flush();
    EXPECT_FALSE(writer.write_failed());
  }
  return file.Contents();
}

void HttpExchange(EventFeeder& f) {
  f.OpenAndConnect(3);
  f.Chunk(3, kUp, "GET / HTTP/1.1\r\n\r\n");
  f.Chunk(3, kDown, "HTTP/1.1 200 OK\r\n");
  f.HalfClose(3, kUp);
  f.HalfClose(3, kDown);
  f.Close(3, CloseReason::kBothFinished, 18, 17);
}

TEST(TraceWriterTest, TextTranscript) {
  EXPECT_EQ(TraceOf(TraceMode::kText, HttpExchange),
            "12:00:00.000000 #3 open from 127.0.0.1:40003\n"
            "12:00:00.000250 #3 connected to 127.0.0.1:2007 in 0.3 ms\n"
            "12:00:00.000500 #3 > 18 bytes\n"
            "| GET / HTTP/1.1\\r\n"
            "| \\r\n"
            "12:00:00.000750 #3 < 17 bytes\n"
            "| HTTP/1.1 200 OK\\r\n"
            "12:00:00.001000 #3 half-close >\n"
            "12:00:00.001250 #3 half-close <\n"
            "12:00:00.001500 #3 closed: client FIN, server FIN; 18 bytes up, 17 bytes down, "
            "76.5 ms\n");
}

TEST(TraceWriterTest, EventsOnlyAndHex) {
  const std::string events = TraceOf(TraceMode::kEvents, HttpExchange);
  EXPECT_EQ(events.find("bytes\n"), std::string::npos);
  EXPECT_EQ(events.find("GET"), std::string::npos);
  EXPECT_NE(events.find("#3 half-close <\n"), std::string::npos);
  EXPECT_NE(events.find("#3 closed: "), std::string::npos);
  EXPECT_FALSE(TraceWriter(1, TraceMode::kEvents).WantsChunks());

  const std::string hex = TraceOf(TraceMode::kHex, [](EventFeeder& f) {
    f.Open(1);
    f.Chunk(1, kDown, "1 byte?");
    f.Chunk(1, kDown, "!");
  });
  EXPECT_NE(hex.find(" #1 < 7 bytes\n| 0000  31 20 62 79 74 65 3f"), std::string::npos);
  EXPECT_NE(hex.find(" #1 < 1 byte\n| 0000  21 "), std::string::npos);
}

TEST(TraceWriterTest, LifecycleTexts) {
  struct Case {
    const char* name;
    void (*feed)(EventFeeder&);
    const char* line;
  };
  const Case cases[] = {
      {"refused",
       [](EventFeeder& f) {
         f.Open(4);
         f.FailConnect(4, "connect", 111, "Connection refused");
         f.Close(4, CloseReason::kConnectFailed);
       },
       " #4 cannot connect to localhost:2007: Connection refused\n"},
      {"connect failure closes",
       [](EventFeeder& f) {
         f.Open(4);
         f.FailConnect(4, "resolve", 0, "Name or service not known");
         f.Close(4, CloseReason::kConnectFailed);
       },
       " #4 closed: connect failed; 0 bytes up, 0 bytes down, 76.5 ms\n"},
      {"server FIN first",
       [](EventFeeder& f) {
         f.Open(5);
         f.HalfClose(5, kDown);
         f.HalfClose(5, kUp);
         f.Close(5, CloseReason::kBothFinished, 1, 1);
       },
       " #5 closed: server FIN, client FIN; 1 byte up, 1 byte down, 76.5 ms\n"},
      {"half-closed, then reset",
       [](EventFeeder& f) {
         f.Open(6);
         f.HalfClose(6, kUp);
         f.Close(6, CloseReason::kResetByServer, 2, 0);
       },
       " #6 closed: client FIN, reset by server; 2 bytes up, 0 bytes down, 76.5 ms\n"},
      {"stopped",
       [](EventFeeder& f) {
         f.Open(7);
         f.Close(7, CloseReason::kStopped);
       },
       " #7 closed: stopped; 0 bytes up, 0 bytes down, 76.5 ms\n"},
      {"reset by client",
       [](EventFeeder& f) {
         f.Open(8);
         f.Close(8, CloseReason::kResetByClient);
       },
       " #8 closed: reset by client;"},
      {"cut with a reset",
       [](EventFeeder& f) {
         f.Open(3);
         f.Close(3, CloseReason::kCut, 4096, 0,
                 Status::Error("cut", 104, "cut after 4096 bytes: reset"));
       },
       " #3 closed: cut after 4096 bytes: reset; 4096 bytes up, 0 bytes down, 76.5 ms\n"},
      {"what a cut did",
       [](EventFeeder& f) {
         f.Open(3);
         f.Acted(3, kDown, SessionConditionActed::Kind::kCut, 4096, /*reset=*/true);
       },
       " #3 < cut after 4096 bytes: reset\n"},
      {"a stall begins",
       [](EventFeeder& f) {
         f.Open(CaptureKey(2, 3));
         f.Acted(CaptureKey(2, 3), kUp, SessionConditionActed::Kind::kStall, 1);
       },
       " #2.3 > stalled after 1 byte\n"},
      {"idle time-out",
       [](EventFeeder& f) {
         f.Open(3);
         f.Close(3, CloseReason::kIdle, 0, 0, Status::Error("idle", 0, "idle 30 s"));
       },
       " #3 closed: idle 30 s; 0 bytes up, 0 bytes down, 76.5 ms\n"},
      {"several forwards", [](EventFeeder& f) { f.Open(CaptureKey(2, 9)); },
       " #2.9 open from 127.0.0.1:"},
      {"same number in two forwards",
       [](EventFeeder& f) {
         f.Open(CaptureKey(1, 6));
         f.Open(CaptureKey(2, 6));
         f.HalfClose(CaptureKey(1, 6), kUp);
         f.Close(CaptureKey(2, 6), CloseReason::kResetByServer, 2, 0);
       },
       " #2.6 closed: reset by server; 2 bytes up"},
      {"IPv6 client",
       [](EventFeeder& f) {
         f.set_client_base(Endpoint::LoopbackIPv6(40000));
         f.Open(1);
       },
       " #1 open from [::1]:40001\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string trace = TraceOf(TraceMode::kEvents, c.feed);
    EXPECT_NE(trace.find(c.line), std::string::npos) << trace;
  }
  // A chunk a traffic condition held says for how long.
  const std::string held = TraceOf(TraceMode::kText, [](EventFeeder& f) {
    f.OpenAndConnect(3);
    f.Chunk(3, kUp, std::string(4096, 'x'), std::chrono::microseconds(100200));
    f.Chunk(3, kUp, "y");
  });
  EXPECT_NE(held.find(" #3 > 4096 bytes delayed 100.2 ms\n"), std::string::npos) << held;
  EXPECT_NE(held.find(" #3 > 1 byte\n"), std::string::npos) << held;
}

// Random binary chunks of several sessions, interleaved, come back exactly
// from the transcript, in text and in hex.
TEST(TraceWriterTest, TranscriptDecodesToTheExactBytes) {
  for (const TraceMode mode : {TraceMode::kText, TraceMode::kHex}) {
    SCOPED_TRACE(mode == TraceMode::kText ? "text" : "hex");
    std::mt19937 random(20261209);
    std::map<std::pair<std::string, char>, std::string> sent;
    MemoryFile file;
    {
      TraceWriter writer(file.fd(), mode);
      EventFeeder feeder(&writer);
      const SessionId sessions[] = {1, 2, CaptureKey(3, 1)};
      for (SessionId id : sessions) feeder.Open(id);
      for (int i = 0; i < 600; ++i) {
        const SessionId id = sessions[random() % 3];
        const Direction direction = random() % 2 == 0 ? kUp : kDown;
        std::string bytes(1 + random() % 300, '\0');
        const int flavour = static_cast<int>(random() % 4);
        for (char& byte : bytes) {
          // Raw binary, or text-like bytes with escapes and UTF-8 mixed in.
          static constexpr char kTexty[] = "ab\\\r\n\t\0\xc3\xa9\xe2\x82\xac\x1b\x80 ";
          byte =
              flavour == 0 ? static_cast<char>(random()) : kTexty[random() % (sizeof kTexty - 1)];
        }
        if (flavour == 2) bytes.back() = '\n';
        // A peer forging an event line.
        if (flavour == 3)
          bytes = "\n12:00:00.000000 #1 closed: reset by client; 1 byte up\n" + bytes;
        sent[{KeyLabel(id), direction == kUp ? '>' : '<'}] += bytes;
        feeder.Chunk(id, direction, bytes);
      }
      writer.Flush();
    }
    const TraceBody body = mode == TraceMode::kText ? TraceBody::kText : TraceBody::kHex;
    std::string trace = file.Contents();
    const DecodedTrace decoded = DecodeTrace(trace, body);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.streams, sent);
    EXPECT_EQ(decoded.events.size(), 603u);
    // Only the real events' lines lack the data mark.
    size_t event_lines = 0;
    for (size_t at = 0; at < trace.size(); at = trace.find('\n', at) + 1) {
      event_lines += !std::string_view(trace).substr(at).starts_with(kTraceDataMark);
    }
    EXPECT_EQ(event_lines, 603u);
    // The decoder notices a single changed hex digit (of an escape, or of a
    // dumped byte).
    const size_t some_body = trace.find(mode == TraceMode::kText ? "\\x8" : "  8");
    ASSERT_NE(some_body, std::string::npos);
    trace[some_body + 2] = '9';
    const DecodedTrace changed = DecodeTrace(trace, body);
    EXPECT_TRUE(!changed.ok || changed.streams != sent);
  }
}

}  // namespace
}  // namespace portwick

// One session's conversation as lines, over a capture store fed the way the
// engine feeds it: text escapes, hex, long lines, find across chunks, the
// highlighted columns, copy, pages and released chunks.
#include "ui/sessions/conversation_lines.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "capture_events.h"
#include "ui/sessions/find_input.h"

namespace portwick {
namespace {

using testing::EventFeeder;
constexpr Direction kUp = Direction::kClientToServer;
constexpr Direction kDown = Direction::kServerToClient;

std::vector<std::string> Lines(const ConversationLines& lines) {
  std::vector<std::string> texts;
  for (int row = 0; row < lines.line_count(); ++row) texts.push_back(lines.LineText(row));
  return texts;
}

class ConversationLinesTest : public ::testing::Test {
 protected:
  void SetUp() override { feeder_.OpenAndConnect(1); }
  void Show() {
    lines_.SetSession(&store_, 1);
    LoadAll();
  }
  void LoadAll() {
    while (lines_.Load(std::chrono::milliseconds(1000))) {
    }
  }

  CaptureStore store_;
  EventFeeder feeder_{&store_};
  ConversationLines lines_;
};

TEST_F(ConversationLinesTest, TextLinesWithTheTracesEscapesAndADirectionOnEachLine) {
  feeder_.Chunk(1, kUp, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  feeder_.Chunk(1, kDown, std::string("\x00\x01\xff caf\xc3\xa9\t\\", 11));
  Show();
  const std::vector<std::string> lines = Lines(lines_);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(lines[0].starts_with("> \u25B6 client \u2192 server  12:00:00.")) << lines[0];
  EXPECT_TRUE(lines[0].ends_with("  27 bytes"));
  EXPECT_EQ(lines[1], "> GET / HTTP/1.1\\r");
  EXPECT_EQ(lines[2], "> Host: x\\r");
  EXPECT_EQ(lines[3], "> \\r");
  EXPECT_TRUE(lines[4].starts_with("< \u25C0 server \u2192 client"));
  EXPECT_EQ(lines[5], "< \\0\\x01\\xff caf\u00e9\\t\\\\");
  EXPECT_EQ(lines_.DirectionOf(1), kUp);
  EXPECT_EQ(lines_.DirectionOf(5), kDown);
  EXPECT_TRUE(lines_.IsHeader(0));
  EXPECT_FALSE(lines_.IsHeader(1));
}

TEST_F(ConversationLinesTest, HexLinesOfSixteenBytesWithStreamOffsets) {
  feeder_.Chunk(1, kUp, "0123456789abcdefXYZ");
  feeder_.Chunk(1, kUp, "!");
  Show();
  lines_.SetMode(ConversationLines::Mode::kHex);
  LoadAll();
  const std::vector<std::string> lines = Lines(lines_);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1],
            "> 0000  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  |0123456789abcdef|");
  EXPECT_EQ(lines[2], "> 0010  58 59 5a                                          |XYZ|");
  EXPECT_TRUE(lines[4].starts_with("> 0013  21 ")) << "offset in the direction's stream";
  lines_.SetMode(ConversationLines::Mode::kText);
  LoadAll();
  EXPECT_EQ(lines_.line_count(), 4);
}

TEST_F(ConversationLinesTest, LongLinesBreakButNeverInsideACharacter) {
  // 127 ASCII bytes, then a two-byte character across the 128-byte mark.
  const std::string text = std::string(127, 'a') + "\xc3\xa9" + std::string(10, 'b');
  feeder_.Chunk(1, kUp, text);
  Show();
  const std::vector<std::string> lines = Lines(lines_);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "> " + std::string(127, 'a'));
  EXPECT_EQ(lines[2], "> \u00e9" + std::string(10, 'b'));
  const ConversationLines::LineBytes second = lines_.BytesOf(2);
  EXPECT_EQ(second.begin, 127u);
  EXPECT_EQ(second.end, text.size());
}

TEST_F(ConversationLinesTest, FindGoesAcrossChunksOfOneDirectionForwardAndBack) {
  feeder_.Chunk(1, kUp, "GET /in");
  feeder_.Chunk(1, kDown, "dex.html");  // the other direction: no match across it
  feeder_.Chunk(1, kUp, "dex.html HTTP/1.1\r\n");
  feeder_.Chunk(1, kDown, "HTTP/1.1 200 OK\r\n");
  Show();
  struct Case {
    const char* name;
    std::string needle;
    std::optional<ConversationLines::Place> from;
    bool forward;
    std::optional<ConversationLines::Place> at;
  };
  using P = ConversationLines::Place;
  const Case cases[] = {
      {"across_chunks", "/index.html", std::nullopt, true, P{0, 4}},
      {"next_after_the_first", "HTTP/1.1", std::nullopt, true, P{2, 9}},
      {"from_a_match_on", "HTTP/1.1", P{2, 9}, true, P{3, 0}},
      {"nothing_after_the_last", "HTTP/1.1", P{3, 0}, false, P{2, 9}},
      {"backward_from_the_end", "dex", std::nullopt, false, P{2, 0}},
      {"backward_before_a_place", "dex", P{2, 0}, false, P{1, 0}},
      {"escaped_line_end", FindBytesFromText("OK\\r\\n"), std::nullopt, true, P{3, 13}},
      {"missing", "absent", std::nullopt, true, std::nullopt},
  };
  for (const Case& c : cases) {
    const auto match = lines_.Find(c.needle, c.from, c.forward);
    ASSERT_EQ(match.has_value(), c.at.has_value()) << c.name;
    if (match) {
      EXPECT_EQ(match->at, *c.at) << c.name << " at " << match->at.chunk << ":" << match->at.offset;
    }
  }
  EXPECT_EQ(lines_.RowOf({2, 9}), 5) << "headers at rows 0, 2, 4";
}

TEST_F(ConversationLinesTest, HighlightCountsColumnsAsTheToolkitsCountCharacters) {
  // An accent (two bytes, one unit) and an emoji (four bytes, two units)
  // before the match; a byte shown as "\x01" (four characters) inside it.
  feeder_.Chunk(1, kUp, std::string("\xc3\xa9\xf0\x9f\x98\x80 key\x01=v", 13));
  Show();
  lines_.SetHighlight(lines_.Find(std::string("key\x01", 4), std::nullopt, true));
  ASSERT_TRUE(lines_.HighlightOf(1));
  EXPECT_EQ(lines_.HighlightOf(1)->first, 6) << "\"> \", 1 + 2 units, a space";
  EXPECT_EQ(lines_.HighlightOf(1)->last, 6 + 7);
  EXPECT_FALSE(lines_.HighlightOf(0)) << "never on a header";
  lines_.SetHighlight(std::nullopt);
  EXPECT_FALSE(lines_.HighlightOf(1));
  EXPECT_EQ(Utf16Length("a\u00e9\u20ac\U0001F600"), 5);
}

TEST_F(ConversationLinesTest, CopyGivesTheSelectedBytesAsTextOrHex) {
  feeder_.Chunk(1, kUp, "line one\nline two\n");
  feeder_.Chunk(1, kDown, std::string("\x00ok", 3));
  Show();
  // header, "line one", "line two", header, "\0ok"
  ASSERT_EQ(lines_.line_count(), 5);
  EXPECT_EQ(lines_.CopyText({2, 1}, false), "line one\nline two\n");
  EXPECT_EQ(lines_.CopyText({1, 4}, true), "6c 69 6e 65 20 6f 6e 65 0a\n00 6f 6b\n");
  const std::string with_header = lines_.CopyText({3, 4}, false);
  EXPECT_TRUE(with_header.rfind("< ", 0) == 0) << with_header;
  EXPECT_TRUE(with_header.find("\n\\0ok\n") != std::string::npos) << with_header;
}

TEST_F(ConversationLinesTest, LoadsInPagesAndDropsChunksTheStoreReleased) {
  constexpr int kChunks = 3000;
  for (int i = 0; i < kChunks; ++i) feeder_.Chunk(1, i % 2 ? kDown : kUp, "x");
  lines_.SetSession(&store_, 1);
  EXPECT_TRUE(lines_.Load(std::chrono::milliseconds(0))) << "one page, more waiting";
  EXPECT_GT(lines_.line_count(), 0);
  EXPECT_LT(lines_.line_count(), 2 * kChunks);
  while (lines_.Load(std::chrono::milliseconds(1000))) {
  }
  EXPECT_EQ(lines_.line_count(), 2 * kChunks);

  // A store that drops the session's oldest chunks: their lines go too.
  CaptureStore small(CaptureStore::kSessionOverhead + 4 * (1000 + CaptureStore::kChunkOverhead));
  EventFeeder feeder(&small);
  feeder.OpenAndConnect(1);
  ConversationLines lines;
  lines.SetSession(&small, 1);
  for (int i = 0; i < 10; ++i) {
    feeder.Chunk(1, kUp, std::string(1000, static_cast<char>('a' + i)));
    lines.Load(std::chrono::milliseconds(1000));
    const CapturedSession session = *small.Session(1);
    // Per kept chunk a header and eight lines of at most 128 bytes.
    ASSERT_EQ(static_cast<uint64_t>(lines.line_count()),
              9 * (session.chunk_count - session.first_kept_chunk));
  }
  EXPECT_TRUE(lines.BytesOf(0).header);
  EXPECT_EQ(lines.BytesOf(0).chunk->index(), small.Session(1)->first_kept_chunk);

  // The lines keep no chunk alive (beyond the one read last, here the
  // newest): one the store drops between two loads is gone at once, and its
  // lines say so until the next load takes them out.
  lines.BytesOf(lines.line_count() - 1);
  const uint64_t oldest = small.Session(1)->first_kept_chunk;
  feeder.Chunk(1, kUp, std::string(1000, 'z'));
  ASSERT_GT(small.Session(1)->first_kept_chunk, oldest);
  EXPECT_FALSE(lines.BytesOf(1).chunk);
  EXPECT_TRUE(lines.LineText(1).ends_with("(dropped from the capture)")) << lines.LineText(1);
  lines.Load(std::chrono::milliseconds(1000));
  EXPECT_EQ(lines.BytesOf(0).chunk_index, small.Session(1)->first_kept_chunk);
}

}  // namespace
}  // namespace portwick

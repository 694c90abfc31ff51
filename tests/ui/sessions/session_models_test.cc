// The Sessions window's shared models over a capture store fed the way the
// engine feeds it: the session table (rows, states, bytes, updates, sort
// values, trimmed and dropped sessions) and the conversation's lines (text
// escapes, hex, long lines, find across chunks, highlight, copy, pages,
// released chunks).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <variant>
#include <vector>

#include "capture/capture_store.h"
#include "capture_events.h"
#include "ui/sessions/conversation_lines.h"
#include "ui/sessions/find_input.h"
#include "ui/sessions/session_order.h"
#include "ui/sessions/session_table.h"

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

// Counts what a view would be told.
class CountingObserver : public SessionTable::Observer {
 public:
  void BeforeReset() override { ++resets; }
  void AfterReset() override {}
  void BeforeRemove(int, int) override {}
  void AfterRemove() override {}
  void BeforeInsert(int first, int last) override { inserted.push_back({first, last}); }
  void AfterInsert() override {}
  void RowsChanged(int first, int last) override { changed.push_back({first, last}); }
  void DurationsChanged() override {}

  int resets = 0;
  std::vector<std::pair<int, int>> inserted;
  std::vector<std::pair<int, int>> changed;
};

// A table whose open sessions have run for 2 s.
class SessionTableTest : public ::testing::Test {
 protected:
  SessionTableTest()
      : model_(&seen_, [this] { return feeder_.now().monotonic + std::chrono::seconds(2); }) {}

  CaptureStore store_;
  EventFeeder feeder_{&store_};
  CountingObserver seen_;
  SessionTable model_;
};

// An ending by a limit or a condition says what it did, and so does a stall.
TEST_F(SessionTableTest, AnIdleOrCutEndingOrAStallSaysWhatItDid) {
  feeder_.OpenAndConnect(1);
  feeder_.Close(1, CloseReason::kIdle, 0, 0, Status::Error("idle", 0, "idle 30 s"));
  feeder_.OpenAndConnect(2);
  feeder_.Close(2, CloseReason::kCut, 4, 0, Status::Error("cut", 104, "cut after 4 bytes: reset"));
  feeder_.OpenAndConnect(3);
  SessionConditionActed stall;
  stall.session = 3;
  stall.direction = kDown;
  stall.kind = SessionConditionActed::Kind::kStall;
  stall.bytes = 10;
  stall.time = feeder_.now();
  store_.OnConditionActed(stall);
  model_.Update(&store_);
  EXPECT_EQ(model_.CellText(0, SessionTable::kState), "closed: idle 30 s");
  EXPECT_EQ(model_.CellText(1, SessionTable::kState), "closed: cut after 4 bytes: reset");
  EXPECT_EQ(model_.CellText(2, SessionTable::kState), "open; down stalled after 10 bytes");
}

TEST_F(SessionTableTest, EachStateAndItsBytesInARow) {
  struct Case {
    SessionId id;
    const char* state;
  };
  feeder_.Open(1);
  feeder_.OpenAndConnect(2);
  feeder_.Chunk(2, kUp, "hello");
  feeder_.Chunk(2, kDown, std::string(2000, 'x'));
  feeder_.OpenAndConnect(3);
  feeder_.HalfClose(3, kUp);
  feeder_.OpenAndConnect(4);
  feeder_.HalfClose(4, kUp);
  feeder_.HalfClose(4, kDown);
  feeder_.Close(4, CloseReason::kBothFinished);
  feeder_.OpenAndConnect(5);
  feeder_.Close(5, CloseReason::kResetByServer);
  feeder_.Open(6);
  feeder_.FailConnect(6, "connect", 111, "Connection refused");
  feeder_.Close(6, CloseReason::kConnectFailed);
  model_.Update(&store_);

  const Case cases[] = {{1, "connecting"},
                        {2, "open"},
                        {3, "half-closed (client FIN)"},
                        {4, "closed: client FIN, server FIN"},
                        {5, "closed: reset by server"},
                        {6, "failed: connect: Connection refused"}};
  ASSERT_EQ(model_.row_count(), 6);
  for (const Case& c : cases) {
    const int row = model_.RowOf(c.id);
    ASSERT_EQ(row, static_cast<int>(c.id) - 1) << "in the order they were opened";
    EXPECT_EQ(model_.CellText(row, SessionTable::kState), c.state) << c.id;
    EXPECT_EQ(model_.CellText(row, SessionTable::kNumber), std::to_string(c.id));
  }
  EXPECT_EQ(model_.CellText(1, SessionTable::kClient), "127.0.0.1:40002");
  EXPECT_EQ(model_.CellText(1, SessionTable::kDestination), "127.0.0.1:2007");
  EXPECT_EQ(model_.CellText(1, SessionTable::kUp), "5 B");
  EXPECT_EQ(model_.CellText(1, SessionTable::kDown), "1.95 KiB");
  EXPECT_EQ(model_.CellText(1, SessionTable::kDuration), "2.00 s") << "open: runs on";
  EXPECT_EQ(model_.CellText(1, SessionTable::kTrimmed), "");
  // Numbers sort as numbers, other columns by their text.
  EXPECT_EQ(model_.SortKeyOf(1, SessionTable::kDown), SessionTable::SortKey(uint64_t{2000}));
  const SessionTable::SortKey duration = model_.SortKeyOf(1, SessionTable::kDuration);
  ASSERT_TRUE(std::holds_alternative<int64_t>(duration)) << "nanoseconds";
  EXPECT_GE(std::get<int64_t>(duration), 2'000'000'000);
  EXPECT_LT(std::get<int64_t>(duration), 2'005'000'000);
  EXPECT_EQ(model_.SortKeyOf(5, SessionTable::kState),
            SessionTable::SortKey(std::string("failed: connect: Connection refused")));
}

TEST_F(SessionTableTest, UpdatesTakeOnlyWhatChangedAndKeepRows) {
  feeder_.OpenAndConnect(1);
  model_.Update(&store_);
  ASSERT_EQ(model_.row_count(), 1);
  const int resets = seen_.resets;
  seen_.inserted.clear();
  feeder_.Chunk(1, kUp, "abc");
  feeder_.Open(2);
  feeder_.Open(3);
  model_.Update(&store_);
  EXPECT_EQ(model_.row_count(), 3);
  EXPECT_EQ(seen_.inserted, (std::vector<std::pair<int, int>>{{1, 2}})) << "both at once";
  EXPECT_EQ(seen_.changed, (std::vector<std::pair<int, int>>{{0, 0}}));
  EXPECT_EQ(seen_.resets, resets);
  EXPECT_EQ(model_.CellText(0, SessionTable::kUp), "3 B");
  model_.Update(&store_);
  EXPECT_EQ(seen_.inserted.size(), 1u) << "nothing new";
  model_.Update(nullptr);
  EXPECT_EQ(model_.row_count(), 0);
}

// The filter box's matching: text in any cell, case folded also beyond ASCII.
TEST_F(SessionTableTest, RowMatchesTextInAnyCellRegardlessOfCase) {
  feeder_.OpenAndConnect(1);
  feeder_.Open(2);
  feeder_.FailConnect(2, "connect", 0,
                      "\xC3\x89"
                      "chec \xCE\xA3\xCE\x8A\xCF\x82 \xD0\x9F\xC5\xB8 \xC4\xB0");
  feeder_.Close(2, CloseReason::kConnectFailed);
  model_.Update(&store_);
  struct Case {
    const char* needle;
    bool first, second;
  };
  const Case cases[] = {
      {"", true, true},
      {"OPEN", true, false},
      {":40002", false, true},
      {"\xC3\xA9"
       "CHEC",
       false, true},                              // é matches É
      {"\xCF\x83\xCE\xAF\xCF\x83", false, true},  // σίσ matches ΣΊς
      {"\xD0\xBF\xC3\xBF", false, true},          // пÿ matches ПŸ
      {"\xC3\x89"
       "chex",
       false, false},
      {"\xC4\xB1", false, false},  // ı is not İ's lower case (it has none)
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RowMatches(model_, 0, c.needle), c.first) << c.needle;
    EXPECT_EQ(RowMatches(model_, 1, c.needle), c.second) << c.needle;
  }
}

// A list without a sorting model of its own: filtered rows, sorted by a
// column's value (numbers as numbers), ties in the order sessions opened.
TEST_F(SessionTableTest, OrderFiltersAndSortsStablyBothWays) {
  const char* const up[] = {"ab", "abcdefghijk", "ab", "a"};  // 2, 11, 2, 1 bytes
  for (SessionId id = 1; id <= 4; ++id) {
    feeder_.OpenAndConnect(id);
    feeder_.Chunk(id, kUp, up[id - 1]);
  }
  feeder_.Open(5);
  feeder_.FailConnect(5, "connect", 0, "Connection refused");
  model_.Update(&store_);
  SessionOrder order;
  auto shown = [&] {
    order.Rebuild(model_);
    std::vector<int> rows;
    for (int view = 0; view < order.size(); ++view) rows.push_back(order.TableRow(view));
    return rows;
  };
  EXPECT_EQ(shown(), (std::vector<int>{0, 1, 2, 3, 4}));
  order.SetSort(SessionTable::kUp, false);
  EXPECT_EQ(shown(), (std::vector<int>{1, 0, 2, 3, 4})) << "11 > 2 = 2 > 1 > 0, not as text";
  order.SetSort(SessionTable::kUp, true);
  EXPECT_EQ(shown(), (std::vector<int>{4, 3, 0, 2, 1})) << "equal keys keep their order";
  order.SetFilter("REFUSED");
  EXPECT_EQ(shown(), (std::vector<int>{4}));
  EXPECT_EQ(order.ViewRow(4), 0);
  EXPECT_EQ(order.ViewRow(1), -1) << "hidden";
  EXPECT_EQ(order.TableRow(1), -1);
  EXPECT_EQ(order.ViewRow(5), -1);
}

TEST(SessionTableTrimTest, TrimmedSessionsStayListedSayingWhatWasDropped) {
  // Room for a few small chunks only.
  CaptureStore store(2 * CaptureStore::kSessionOverhead +
                     3 * (1000 + CaptureStore::kChunkOverhead) + 500);
  EventFeeder feeder(&store);
  SessionTable model;
  feeder.OpenAndConnect(1);
  feeder.Chunk(1, kUp, std::string(1000, 'a'));
  feeder.Close(1, CloseReason::kBothFinished, 1000, 0);
  feeder.OpenAndConnect(2);
  model.Update(&store);
  ASSERT_EQ(model.row_count(), 2);
  for (int i = 0; i < 6; ++i) feeder.Chunk(2, kDown, std::string(1000, 'b'));
  model.Update(&store);
  ASSERT_TRUE(store.Session(2)->trimmed())
      << store.Counts().capture_used << " of " << store.Counts().capture_limit << " dropped "
      << store.Counts().bytes_dropped;
  const int row = model.RowOf(2);
  ASSERT_GE(row, 0);
  EXPECT_TRUE(model.CellText(row, SessionTable::kTrimmed).ends_with(" dropped"));
  EXPECT_EQ(model.SortKeyOf(row, SessionTable::kTrimmed),
            SessionTable::SortKey(store.Session(2)->bytes_dropped));
  // Session 1, trimmed to nothing, stays listed as trimmed.
  ASSERT_EQ(model.RowOf(1), 0);
  EXPECT_EQ(model.CellText(0, SessionTable::kTrimmed), "1000 B dropped");
  // New sessions that need more room than the chunks left take it off.
  for (SessionId id = 3; id < 20 && store.Session(1); ++id) feeder.OpenAndConnect(id);
  model.Update(&store);
  EXPECT_EQ(model.RowOf(1), -1) << "gone from the list when the store dropped it";
  EXPECT_EQ(model.row_count(), static_cast<int>(store.Sessions().size()));
}

// --- conversation ---

class ConversationLinesTest : public ::testing::Test {
 protected:
  void SetUp() override { feeder_.OpenAndConnect(1); }
  void Show() {
    model_.SetSession(&store_, 1);
    LoadAll();
  }
  void LoadAll() {
    while (model_.Load(std::chrono::milliseconds(1000))) {
    }
  }

  CaptureStore store_;
  EventFeeder feeder_{&store_};
  ConversationLines model_;
};

TEST_F(ConversationLinesTest, TextLinesWithTheTracesEscapesAndADirectionOnEachLine) {
  feeder_.Chunk(1, kUp, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  feeder_.Chunk(1, kDown, std::string("\x00\x01\xff caf\xc3\xa9\t\\", 11));
  Show();
  const std::vector<std::string> lines = Lines(model_);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(lines[0].starts_with("> \u25B6 client \u2192 server  12:00:00.")) << lines[0];
  EXPECT_TRUE(lines[0].ends_with("  27 bytes"));
  EXPECT_EQ(lines[1], "> GET / HTTP/1.1\\r");
  EXPECT_EQ(lines[2], "> Host: x\\r");
  EXPECT_EQ(lines[3], "> \\r");
  EXPECT_TRUE(lines[4].starts_with("< \u25C0 server \u2192 client"));
  EXPECT_EQ(lines[5], "< \\0\\x01\\xff caf\u00e9\\t\\\\");
  EXPECT_EQ(model_.DirectionOf(1), kUp);
  EXPECT_EQ(model_.DirectionOf(5), kDown);
  EXPECT_TRUE(model_.IsHeader(0));
  EXPECT_FALSE(model_.IsHeader(1));
}

TEST_F(ConversationLinesTest, HexLinesOfSixteenBytesWithStreamOffsets) {
  feeder_.Chunk(1, kUp, "0123456789abcdefXYZ");
  feeder_.Chunk(1, kUp, "!");
  Show();
  model_.SetMode(ConversationLines::Mode::kHex);
  LoadAll();
  const std::vector<std::string> lines = Lines(model_);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1],
            "> 0000  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  |0123456789abcdef|");
  EXPECT_EQ(lines[2], "> 0010  58 59 5a                                          |XYZ|");
  EXPECT_TRUE(lines[4].starts_with("> 0013  21 ")) << "offset in the direction's stream";
  model_.SetMode(ConversationLines::Mode::kText);
  LoadAll();
  EXPECT_EQ(model_.line_count(), 4);
}

TEST_F(ConversationLinesTest, LongLinesBreakButNeverInsideACharacter) {
  // 127 ASCII bytes, then a two-byte character across the 128-byte mark.
  const std::string text = std::string(127, 'a') + "\xc3\xa9" + std::string(10, 'b');
  feeder_.Chunk(1, kUp, text);
  Show();
  const std::vector<std::string> lines = Lines(model_);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "> " + std::string(127, 'a'));
  EXPECT_EQ(lines[2], "> \u00e9" + std::string(10, 'b'));
  const ConversationLines::LineBytes second = model_.BytesOf(2);
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
    const auto match = model_.Find(c.needle, c.from, c.forward);
    ASSERT_EQ(match.has_value(), c.at.has_value()) << c.name;
    if (match) {
      EXPECT_EQ(match->at, *c.at) << c.name << " at " << match->at.chunk << ":" << match->at.offset;
    }
  }
  EXPECT_EQ(model_.RowOf({2, 9}), 5) << "headers at rows 0, 2, 4";
}

TEST_F(ConversationLinesTest, HighlightCountsColumnsAsTheToolkitsCountCharacters) {
  // An accent (two bytes, one unit) and an emoji (four bytes, two units)
  // before the match; a byte shown as "\x01" (four characters) inside it.
  feeder_.Chunk(1, kUp, std::string("\xc3\xa9\xf0\x9f\x98\x80 key\x01=v", 13));
  Show();
  model_.SetHighlight(model_.Find(std::string("key\x01", 4), std::nullopt, true));
  ASSERT_TRUE(model_.HighlightOf(1));
  EXPECT_EQ(model_.HighlightOf(1)->first, 6) << "\"> \", 1 + 2 units, a space";
  EXPECT_EQ(model_.HighlightOf(1)->last, 6 + 7);
  EXPECT_FALSE(model_.HighlightOf(0)) << "never on a header";
  model_.SetHighlight(std::nullopt);
  EXPECT_FALSE(model_.HighlightOf(1));
  EXPECT_EQ(Utf16Length("a\u00e9\u20ac\U0001F600"), 5);
}

TEST(FindBytesTest, TextEscapesAndHexPairs) {
  EXPECT_EQ(FindBytesFromText("a\\r\\n\\0\\x41\\\\\\q"), std::string("a\r\n\0A\\\\q", 8));
  EXPECT_EQ(FindBytesFromText("\\x4"), "\\x4") << "not an escape: taken as typed";
  EXPECT_EQ(FindBytesFromHex("de ad BE EF"), std::string("\xde\xad\xbe\xef"));
  EXPECT_EQ(FindBytesFromHex("0d0a"), std::string("\r\n"));
  EXPECT_EQ(FindBytesFromHex("0d 0"), std::nullopt);
  EXPECT_EQ(FindBytesFromHex("zz"), std::nullopt);
  EXPECT_EQ(FindBytesFromHex(""), std::nullopt);
}

TEST_F(ConversationLinesTest, CopyGivesTheSelectedBytesAsTextOrHex) {
  feeder_.Chunk(1, kUp, "line one\nline two\n");
  feeder_.Chunk(1, kDown, std::string("\x00ok", 3));
  Show();
  // header, "line one", "line two", header, "\0ok"
  ASSERT_EQ(model_.line_count(), 5);
  EXPECT_EQ(model_.CopyText({2, 1}, false), "line one\nline two\n");
  EXPECT_EQ(model_.CopyText({1, 4}, true), "6c 69 6e 65 20 6f 6e 65 0a\n00 6f 6b\n");
  const std::string with_header = model_.CopyText({3, 4}, false);
  EXPECT_TRUE(with_header.rfind("< ", 0) == 0) << with_header;
  EXPECT_TRUE(with_header.find("\n\\0ok\n") != std::string::npos) << with_header;
}

TEST_F(ConversationLinesTest, LoadsInPagesAndDropsChunksTheStoreReleased) {
  constexpr int kChunks = 3000;
  for (int i = 0; i < kChunks; ++i) feeder_.Chunk(1, i % 2 ? kDown : kUp, "x");
  model_.SetSession(&store_, 1);
  EXPECT_TRUE(model_.Load(std::chrono::milliseconds(0))) << "one page, more waiting";
  EXPECT_GT(model_.line_count(), 0);
  EXPECT_LT(model_.line_count(), 2 * kChunks);
  while (model_.Load(std::chrono::milliseconds(1000))) {
  }
  EXPECT_EQ(model_.line_count(), 2 * kChunks);

  // A store that drops the session's oldest chunks: their lines go too.
  CaptureStore small(CaptureStore::kSessionOverhead + 4 * (1000 + CaptureStore::kChunkOverhead));
  EventFeeder feeder(&small);
  feeder.OpenAndConnect(1);
  ConversationLines model;
  model.SetSession(&small, 1);
  for (int i = 0; i < 10; ++i) {
    feeder.Chunk(1, kUp, std::string(1000, static_cast<char>('a' + i)));
    model.Load(std::chrono::milliseconds(1000));
    const CapturedSession session = *small.Session(1);
    // Per kept chunk a header and eight lines of at most 128 bytes.
    ASSERT_EQ(static_cast<uint64_t>(model.line_count()),
              9 * (session.chunk_count - session.first_kept_chunk));
  }
  EXPECT_TRUE(model.BytesOf(0).header);
  EXPECT_EQ(model.BytesOf(0).chunk->index(), small.Session(1)->first_kept_chunk);

  // The model keeps no chunk alive (beyond the one it read last, here the
  // newest): one the store drops between two loads is gone at once, and its
  // lines say so until the next load takes them out.
  model.BytesOf(model.line_count() - 1);
  const uint64_t oldest = small.Session(1)->first_kept_chunk;
  feeder.Chunk(1, kUp, std::string(1000, 'z'));
  ASSERT_GT(small.Session(1)->first_kept_chunk, oldest);
  EXPECT_FALSE(model.BytesOf(1).chunk);
  EXPECT_TRUE(model.LineText(1).ends_with("(dropped from the capture)")) << model.LineText(1);
  model.Load(std::chrono::milliseconds(1000));
  EXPECT_EQ(model.BytesOf(0).chunk_index, small.Session(1)->first_kept_chunk);
}

}  // namespace
}  // namespace portwick

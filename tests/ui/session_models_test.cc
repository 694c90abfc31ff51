// The Sessions window's models over a capture store fed the way the engine
// feeds it: the session list (rows, states, bytes, updates, filtering,
// sorting, trimmed and dropped sessions) and the conversation (text escapes,
// hex, long lines, find across chunks, copy, pages, released chunks).
#include <gtest/gtest.h>

#include <QtCore/QSortFilterProxyModel>
#include <chrono>
#include <string>
#include <vector>

#include "capture/capture_store.h"
#include "capture_events.h"
#include "ui/qt/conversation_model.h"
#include "ui/qt/session_list_model.h"
#include "ui/sessions/find_input.h"

namespace portwick {
namespace {

using testing::EventFeeder;
constexpr Direction kUp = Direction::kClientToServer;
constexpr Direction kDown = Direction::kServerToClient;

QString Cell(const QAbstractItemModel& model, int row, int column) {
  return model.data(model.index(row, column), Qt::DisplayRole).toString();
}

std::vector<QString> Lines(const ConversationModel& model) {
  std::vector<QString> lines;
  for (int row = 0; row < model.rowCount(); ++row) lines.push_back(Cell(model, row, 0));
  return lines;
}

// A list whose open sessions have run for 2 s.
class SessionListModelTest : public ::testing::Test {
 protected:
  SessionListModelTest()
      : model_(nullptr, [this] { return feeder_.now().monotonic + std::chrono::seconds(2); }) {}

  CaptureStore store_;
  EventFeeder feeder_{&store_};
  SessionListModel model_;
};

TEST_F(SessionListModelTest, EachStateAndItsBytesInARow) {
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
  ASSERT_EQ(model_.rowCount(), 6);
  for (const Case& c : cases) {
    const int row = model_.RowOf(c.id);
    ASSERT_EQ(row, static_cast<int>(c.id) - 1) << "in the order they were opened";
    EXPECT_EQ(Cell(model_, row, SessionListModel::kState), c.state) << c.id;
    // The column may cut the text off; the tooltip holds the whole reason.
    EXPECT_EQ(model_.index(row, SessionListModel::kState).data(Qt::ToolTipRole).toString(),
              c.state);
    EXPECT_EQ(Cell(model_, row, SessionListModel::kNumber), QString::number(c.id));
  }
  EXPECT_EQ(Cell(model_, 1, SessionListModel::kClient), "127.0.0.1:40002");
  EXPECT_EQ(Cell(model_, 1, SessionListModel::kDestination), "127.0.0.1:2007");
  EXPECT_EQ(Cell(model_, 1, SessionListModel::kUp), "5 B");
  EXPECT_EQ(Cell(model_, 1, SessionListModel::kDown), "1.95 KiB");
  EXPECT_EQ(Cell(model_, 1, SessionListModel::kDuration), "2.00 s") << "open: runs on";
  EXPECT_EQ(Cell(model_, 1, SessionListModel::kTrimmed), "");
}

TEST_F(SessionListModelTest, UpdatesTakeOnlyWhatChangedAndKeepRows) {
  feeder_.OpenAndConnect(1);
  model_.Update(&store_);
  ASSERT_EQ(model_.rowCount(), 1);
  int inserted = 0, reset = 0;
  QObject::connect(&model_, &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
  QObject::connect(&model_, &QAbstractItemModel::modelReset, [&] { ++reset; });
  feeder_.Chunk(1, kUp, "abc");
  feeder_.Open(2);
  feeder_.Open(3);
  model_.Update(&store_);
  EXPECT_EQ(model_.rowCount(), 3);
  EXPECT_EQ(inserted, 1) << "both new sessions at once";
  EXPECT_EQ(reset, 0);
  EXPECT_EQ(Cell(model_, 0, SessionListModel::kUp), "3 B");
  model_.Update(&store_);
  EXPECT_EQ(inserted, 1) << "nothing new";
  model_.Update(nullptr);
  EXPECT_EQ(model_.rowCount(), 0);
}

TEST_F(SessionListModelTest, FilterByTextInTheRowAndSortNumbersAsNumbers) {
  for (SessionId id = 1; id <= 3; ++id) {
    feeder_.OpenAndConnect(id);
  }
  feeder_.Chunk(1, kUp, std::string(9000, 'a'));
  feeder_.Chunk(2, kUp, std::string(10, 'b'));
  feeder_.Chunk(3, kUp, std::string(900, 'c'));
  feeder_.Open(4);
  feeder_.FailConnect(4, "resolve", 0, "Name or service not known");
  model_.Update(&store_);

  QSortFilterProxyModel proxy;
  proxy.setSourceModel(&model_);
  proxy.setSortRole(SessionListModel::kSortRole);
  proxy.setFilterKeyColumn(-1);
  proxy.setFilterCaseSensitivity(Qt::CaseInsensitive);
  proxy.sort(SessionListModel::kUp, Qt::AscendingOrder);
  std::vector<QString> order;
  for (int row = 0; row < proxy.rowCount(); ++row) order.push_back(Cell(proxy, row, 0));
  EXPECT_EQ(order, (std::vector<QString>{"4", "2", "3", "1"})) << "0 B, 10 B, 900 B, 8.79 KiB";

  struct Case {
    const char* filter;
    std::vector<QString> numbers;
  };
  for (const Case& c : {Case{"NAME OR SERVICE", {"4"}}, Case{":40002", {"2"}},
                        Case{"open", {"2", "3", "1"}}, Case{"nothing like it", {}}}) {
    proxy.setFilterFixedString(c.filter);
    std::vector<QString> seen;
    for (int row = 0; row < proxy.rowCount(); ++row) seen.push_back(Cell(proxy, row, 0));
    EXPECT_EQ(seen, c.numbers) << c.filter;
  }
}

TEST(SessionListModelTrimTest, TrimmedSessionsStayListedSayingWhatWasDropped) {
  // Room for a few small chunks only.
  CaptureStore store(2 * CaptureStore::kSessionOverhead +
                     3 * (1000 + CaptureStore::kChunkOverhead) + 500);
  EventFeeder feeder(&store);
  SessionListModel model;
  feeder.OpenAndConnect(1);
  feeder.Chunk(1, kUp, std::string(1000, 'a'));
  feeder.Close(1, CloseReason::kBothFinished, 1000, 0);
  feeder.OpenAndConnect(2);
  model.Update(&store);
  ASSERT_EQ(model.rowCount(), 2);
  for (int i = 0; i < 6; ++i) feeder.Chunk(2, kDown, std::string(1000, 'b'));
  model.Update(&store);
  ASSERT_TRUE(store.Session(2)->trimmed())
      << store.Counts().capture_used << " of " << store.Counts().capture_limit << " dropped "
      << store.Counts().bytes_dropped;
  const int row = model.RowOf(2);
  ASSERT_GE(row, 0);
  EXPECT_TRUE(Cell(model, row, SessionListModel::kTrimmed).endsWith(" dropped"));
  EXPECT_EQ(model.data(model.index(row, SessionListModel::kTrimmed), SessionListModel::kSortRole)
                .toULongLong(),
            store.Session(2)->bytes_dropped);
  // Session 1, trimmed to nothing, stays listed as trimmed.
  ASSERT_EQ(model.RowOf(1), 0);
  EXPECT_EQ(Cell(model, 0, SessionListModel::kTrimmed), "1000 B dropped");
  // New sessions that need more room than the chunks left take it off.
  for (SessionId id = 3; id < 20 && store.Session(1); ++id) feeder.OpenAndConnect(id);
  model.Update(&store);
  EXPECT_EQ(model.RowOf(1), -1) << "gone from the list when the store dropped it";
  EXPECT_EQ(model.rowCount(), static_cast<int>(store.Sessions().size()));
}

// --- conversation ---

class ConversationModelTest : public ::testing::Test {
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
  ConversationModel model_;
};

TEST_F(ConversationModelTest, TextLinesWithTheTracesEscapesAndADirectionOnEachLine) {
  feeder_.Chunk(1, kUp, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  feeder_.Chunk(1, kDown, std::string("\x00\x01\xff caf\xc3\xa9\t\\", 11));
  Show();
  const std::vector<QString> lines = Lines(model_);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(lines[0].startsWith(QString::fromUtf8("> \u25B6 client \u2192 server  12:00:00.")))
      << lines[0].toStdString();
  EXPECT_TRUE(lines[0].endsWith("  27 bytes"));
  EXPECT_EQ(lines[1], "> GET / HTTP/1.1\\r");
  EXPECT_EQ(lines[2], "> Host: x\\r");
  EXPECT_EQ(lines[3], "> \\r");
  EXPECT_TRUE(lines[4].startsWith(QString::fromUtf8("< \u25C0 server \u2192 client")));
  EXPECT_EQ(lines[5], QString::fromUtf8("< \\0\\x01\\xff caf\u00e9\\t\\\\"));
  EXPECT_EQ(model_.data(model_.index(1), ConversationModel::kDirectionRole).toInt(), 0);
  EXPECT_EQ(model_.data(model_.index(5), ConversationModel::kDirectionRole).toInt(), 1);
  EXPECT_TRUE(model_.data(model_.index(0), ConversationModel::kHeaderRole).toBool());
  EXPECT_NE(model_.data(model_.index(1), Qt::ForegroundRole),
            model_.data(model_.index(5), Qt::ForegroundRole));
}

TEST_F(ConversationModelTest, HexLinesOfSixteenBytesWithStreamOffsets) {
  feeder_.Chunk(1, kUp, "0123456789abcdefXYZ");
  feeder_.Chunk(1, kUp, "!");
  Show();
  model_.SetMode(ConversationModel::Mode::kHex);
  LoadAll();
  const std::vector<QString> lines = Lines(model_);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1],
            "> 0000  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  |0123456789abcdef|");
  EXPECT_EQ(lines[2], "> 0010  58 59 5a                                          |XYZ|");
  EXPECT_TRUE(lines[4].startsWith("> 0013  21 ")) << "offset in the direction's stream";
  model_.SetMode(ConversationModel::Mode::kText);
  LoadAll();
  EXPECT_EQ(model_.rowCount(), 4);
}

TEST_F(ConversationModelTest, LongLinesBreakButNeverInsideACharacter) {
  // 127 ASCII bytes, then a two-byte character across the 128-byte mark.
  const std::string text = std::string(127, 'a') + "\xc3\xa9" + std::string(10, 'b');
  feeder_.Chunk(1, kUp, text);
  Show();
  const std::vector<QString> lines = Lines(model_);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "> " + QString(127, u'a'));
  EXPECT_EQ(lines[2], QString::fromUtf8("> \u00e9") + QString(10, u'b'));
  const ConversationModel::LineBytes second = model_.BytesOf(2);
  EXPECT_EQ(second.begin, 127u);
  EXPECT_EQ(second.end, text.size());
}

TEST_F(ConversationModelTest, FindGoesAcrossChunksOfOneDirectionForwardAndBack) {
  feeder_.Chunk(1, kUp, "GET /in");
  feeder_.Chunk(1, kDown, "dex.html");  // the other direction: no match across it
  feeder_.Chunk(1, kUp, "dex.html HTTP/1.1\r\n");
  feeder_.Chunk(1, kDown, "HTTP/1.1 200 OK\r\n");
  Show();
  struct Case {
    const char* name;
    std::string needle;
    std::optional<ConversationModel::Place> from;
    bool forward;
    std::optional<ConversationModel::Place> at;
  };
  using P = ConversationModel::Place;
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

TEST(FindBytesTest, TextEscapesAndHexPairs) {
  EXPECT_EQ(FindBytesFromText("a\\r\\n\\0\\x41\\\\\\q"), std::string("a\r\n\0A\\\\q", 8));
  EXPECT_EQ(FindBytesFromText("\\x4"), "\\x4") << "not an escape: taken as typed";
  EXPECT_EQ(FindBytesFromHex("de ad BE EF"), std::string("\xde\xad\xbe\xef"));
  EXPECT_EQ(FindBytesFromHex("0d0a"), std::string("\r\n"));
  EXPECT_EQ(FindBytesFromHex("0d 0"), std::nullopt);
  EXPECT_EQ(FindBytesFromHex("zz"), std::nullopt);
  EXPECT_EQ(FindBytesFromHex(""), std::nullopt);
}

TEST_F(ConversationModelTest, CopyGivesTheSelectedBytesAsTextOrHex) {
  feeder_.Chunk(1, kUp, "line one\nline two\n");
  feeder_.Chunk(1, kDown, std::string("\x00ok", 3));
  Show();
  // header, "line one", "line two", header, "\0ok"
  ASSERT_EQ(model_.rowCount(), 5);
  EXPECT_EQ(model_.CopyText({2, 1}, false), "line one\nline two\n");
  EXPECT_EQ(model_.CopyText({1, 4}, true), "6c 69 6e 65 20 6f 6e 65 0a\n00 6f 6b\n");
  const std::string with_header = model_.CopyText({3, 4}, false);
  EXPECT_TRUE(with_header.rfind("< ", 0) == 0) << with_header;
  EXPECT_TRUE(with_header.find("\n\\0ok\n") != std::string::npos) << with_header;
}

TEST_F(ConversationModelTest, LoadsInPagesAndDropsChunksTheStoreReleased) {
  constexpr int kChunks = 3000;
  for (int i = 0; i < kChunks; ++i) feeder_.Chunk(1, i % 2 ? kDown : kUp, "x");
  model_.SetSession(&store_, 1);
  EXPECT_TRUE(model_.Load(std::chrono::milliseconds(0))) << "one page, more waiting";
  EXPECT_GT(model_.rowCount(), 0);
  EXPECT_LT(model_.rowCount(), 2 * kChunks);
  while (model_.Load(std::chrono::milliseconds(1000))) {
  }
  EXPECT_EQ(model_.rowCount(), 2 * kChunks);

  // A store that drops the session's oldest chunks: their lines go too.
  CaptureStore small(CaptureStore::kSessionOverhead + 4 * (1000 + CaptureStore::kChunkOverhead));
  EventFeeder feeder(&small);
  feeder.OpenAndConnect(1);
  ConversationModel model;
  model.SetSession(&small, 1);
  for (int i = 0; i < 10; ++i) {
    feeder.Chunk(1, kUp, std::string(1000, static_cast<char>('a' + i)));
    model.Load(std::chrono::milliseconds(1000));
    const CapturedSession session = *small.Session(1);
    // Per kept chunk a header and eight lines of at most 128 bytes.
    ASSERT_EQ(static_cast<uint64_t>(model.rowCount()),
              9 * (session.chunk_count - session.first_kept_chunk));
  }
  EXPECT_TRUE(model.BytesOf(0).header);
  EXPECT_EQ(model.BytesOf(0).chunk->index(), small.Session(1)->first_kept_chunk);

  // The model keeps no chunk alive (beyond the one it read last, here the
  // newest): one the store drops between two loads is gone at once, and its
  // lines say so until the next load takes them out.
  model.BytesOf(model.rowCount() - 1);
  const uint64_t oldest = small.Session(1)->first_kept_chunk;
  feeder.Chunk(1, kUp, std::string(1000, 'z'));
  ASSERT_GT(small.Session(1)->first_kept_chunk, oldest);
  EXPECT_FALSE(model.BytesOf(1).chunk);
  EXPECT_TRUE(Cell(model, 1, 0).endsWith("(dropped from the capture)"))
      << Cell(model, 1, 0).toStdString();
  model.Load(std::chrono::milliseconds(1000));
  EXPECT_EQ(model.BytesOf(0).chunk_index, small.Session(1)->first_kept_chunk);
}

}  // namespace
}  // namespace portwick

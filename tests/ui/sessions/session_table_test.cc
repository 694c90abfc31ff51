// The session list's table over a capture store fed the way the engine
// feeds it: rows, states, bytes, updates told to the view, sort values,
// trimmed and dropped sessions.
#include "ui/sessions/session_table.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <variant>
#include <vector>

#include "capture/capture_store.h"
#include "capture_events.h"

namespace portwick {
namespace {

using testing::EventFeeder;
constexpr Direction kUp = Direction::kClientToServer;
constexpr Direction kDown = Direction::kServerToClient;

// Counts what a view would be told.
class CountingObserver : public SessionTable::Observer {
 public:
  void BeforeReset() override { ++resets; }
  void AfterReset() override {}
  void BeforeRemove(int, int) override { ++removals; }
  void AfterRemove() override {}
  void BeforeInsert(int first, int last) override { inserted.push_back({first, last}); }
  void AfterInsert() override {}
  void RowsChanged(int first, int last) override { changed.push_back({first, last}); }
  void DurationsChanged() override {}

  int resets = 0;
  int removals = 0;
  std::vector<std::pair<int, int>> inserted;
  std::vector<std::pair<int, int>> changed;
};

// A table whose open sessions have run for 2 s.
class SessionTableTest : public ::testing::Test {
 protected:
  CaptureStore store_;
  EventFeeder feeder_{&store_};
  CountingObserver seen_;
  SessionTable table_{&seen_, [this] { return feeder_.now().monotonic + std::chrono::seconds(2); }};
};

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
  table_.Update(&store_);

  const Case cases[] = {{1, "connecting"},
                        {2, "open"},
                        {3, "half-closed (client FIN)"},
                        {4, "closed: client FIN, server FIN"},
                        {5, "closed: reset by server"},
                        {6, "failed: connect: Connection refused"}};
  ASSERT_EQ(table_.row_count(), 6);
  for (const Case& c : cases) {
    const int row = table_.RowOf(c.id);
    ASSERT_EQ(row, static_cast<int>(c.id) - 1) << "in the order they were opened";
    EXPECT_EQ(table_.CellText(row, SessionTable::kState), c.state) << c.id;
    EXPECT_EQ(table_.CellText(row, SessionTable::kNumber), std::to_string(c.id));
  }
  EXPECT_EQ(table_.CellText(1, SessionTable::kClient), "127.0.0.1:40002");
  EXPECT_EQ(table_.CellText(1, SessionTable::kDestination), "127.0.0.1:2007");
  EXPECT_EQ(table_.CellText(1, SessionTable::kUp), "5 B");
  EXPECT_EQ(table_.CellText(1, SessionTable::kDown), "1.95 KiB");
  EXPECT_EQ(table_.CellText(1, SessionTable::kDuration), "2.00 s") << "open: runs on";
  EXPECT_EQ(table_.CellText(1, SessionTable::kTrimmed), "");
  // Numbers sort as numbers, other columns by their text.
  EXPECT_EQ(table_.SortKeyOf(1, SessionTable::kDown), SessionTable::SortKey(uint64_t{2000}));
  const SessionTable::SortKey duration = table_.SortKeyOf(1, SessionTable::kDuration);
  ASSERT_TRUE(std::holds_alternative<int64_t>(duration)) << "nanoseconds";
  EXPECT_GE(std::get<int64_t>(duration), 2'000'000'000);
  EXPECT_LT(std::get<int64_t>(duration), 2'005'000'000);
  EXPECT_EQ(table_.SortKeyOf(5, SessionTable::kState),
            SessionTable::SortKey(std::string("failed: connect: Connection refused")));
}

TEST_F(SessionTableTest, UpdatesTakeOnlyWhatChangedAndKeepRows) {
  feeder_.OpenAndConnect(1);
  table_.Update(&store_);
  ASSERT_EQ(table_.row_count(), 1);
  const int resets = seen_.resets;
  seen_.inserted.clear();
  feeder_.Chunk(1, kUp, "abc");
  feeder_.Open(2);
  feeder_.Open(3);
  table_.Update(&store_);
  EXPECT_EQ(table_.row_count(), 3);
  EXPECT_EQ(seen_.inserted, (std::vector<std::pair<int, int>>{{1, 2}})) << "both at once";
  EXPECT_EQ(seen_.changed, (std::vector<std::pair<int, int>>{{0, 0}}));
  EXPECT_EQ(seen_.resets, resets);
  EXPECT_EQ(table_.CellText(0, SessionTable::kUp), "3 B");
  table_.Update(&store_);
  EXPECT_EQ(seen_.inserted.size(), 1u) << "nothing new";
  table_.Update(nullptr);
  EXPECT_EQ(table_.row_count(), 0);
}

TEST(SessionTableTrimTest, TrimmedSessionsStayListedSayingWhatWasDropped) {
  // Room for a few small chunks only.
  CaptureStore store(2 * CaptureStore::kSessionOverhead +
                     3 * (1000 + CaptureStore::kChunkOverhead) + 500);
  EventFeeder feeder(&store);
  SessionTable table;
  feeder.OpenAndConnect(1);
  feeder.Chunk(1, kUp, std::string(1000, 'a'));
  feeder.Close(1, CloseReason::kBothFinished, 1000, 0);
  feeder.OpenAndConnect(2);
  table.Update(&store);
  ASSERT_EQ(table.row_count(), 2);
  for (int i = 0; i < 6; ++i) feeder.Chunk(2, kDown, std::string(1000, 'b'));
  table.Update(&store);
  ASSERT_TRUE(store.Session(2)->trimmed())
      << store.Counts().capture_used << " of " << store.Counts().capture_limit << " dropped "
      << store.Counts().bytes_dropped;
  const int row = table.RowOf(2);
  ASSERT_GE(row, 0);
  EXPECT_TRUE(table.CellText(row, SessionTable::kTrimmed).ends_with(" dropped"));
  EXPECT_EQ(table.SortKeyOf(row, SessionTable::kTrimmed),
            SessionTable::SortKey(store.Session(2)->bytes_dropped));
  // Session 1, trimmed to nothing, stays listed as trimmed.
  ASSERT_EQ(table.RowOf(1), 0);
  EXPECT_EQ(table.CellText(0, SessionTable::kTrimmed), "1000 B dropped");
  // New sessions that need more room than the chunks left take it off.
  for (SessionId id = 3; id < 20 && store.Session(1); ++id) feeder.OpenAndConnect(id);
  table.Update(&store);
  EXPECT_EQ(table.RowOf(1), -1) << "gone from the list when the store dropped it";
  EXPECT_EQ(table.row_count(), static_cast<int>(store.Sessions().size()));
}

}  // namespace
}  // namespace portwick

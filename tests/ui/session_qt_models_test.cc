// The Sessions window's Qt models over the shared table and lines (whose
// logic tests/ui/sessions/ covers): their roles, their signals as the store
// changes, and a proxy filtering and sorting the list.
#include <gtest/gtest.h>

#include <QtCore/QPoint>
#include <QtCore/QSortFilterProxyModel>
#include <chrono>
#include <string>
#include <vector>

#include "capture/capture_store.h"
#include "capture_events.h"
#include "ui/qt/conversation_model.h"
#include "ui/qt/session_list_model.h"

namespace portwick {
namespace {

using testing::EventFeeder;
constexpr Direction kUp = Direction::kClientToServer;
constexpr Direction kDown = Direction::kServerToClient;

QString Cell(const QAbstractItemModel& model, int row, int column) {
  return model.data(model.index(row, column), Qt::DisplayRole).toString();
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

TEST_F(SessionListModelTest, CellsTooltipsAndSortValuesAndSignalsAsTheStoreChanges) {
  feeder_.OpenAndConnect(1);
  feeder_.Chunk(1, kDown, std::string(2000, 'x'));
  feeder_.Open(2);
  feeder_.FailConnect(2, "connect", 111, "Connection refused");
  feeder_.Close(2, CloseReason::kConnectFailed);
  model_.Update(&store_);
  ASSERT_EQ(model_.rowCount(), 2);
  for (int row = 0; row < 2; ++row) {
    for (int column = 0; column < SessionListModel::kColumnCount; ++column) {
      EXPECT_EQ(Cell(model_, row, column).toStdString(),
                model_.table().CellText(row, static_cast<SessionListModel::Column>(column)));
    }
  }
  // The column may cut the text off; the tooltip holds the whole reason.
  EXPECT_EQ(model_.index(1, SessionListModel::kState).data(Qt::ToolTipRole).toString(),
            "failed: connect: Connection refused");
  EXPECT_EQ(model_.index(0, SessionListModel::kDown).data(SessionListModel::kSortRole),
            QVariant::fromValue<qulonglong>(2000));
  EXPECT_EQ(model_.index(0, SessionListModel::kDuration).data(SessionListModel::kSortRole),
            QVariant::fromValue<qlonglong>(
                std::get<int64_t>(model_.table().SortKeyOf(0, SessionListModel::kDuration))));
  EXPECT_NE(model_.index(1, 0).data(Qt::ForegroundRole),
            model_.index(0, 0).data(Qt::ForegroundRole))
      << "a failed session stands out";
  EXPECT_EQ(model_.headerData(SessionListModel::kDestination, Qt::Horizontal, Qt::DisplayRole),
            "Destination");

  int inserted = 0, reset = 0, changed = 0;
  QObject::connect(&model_, &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
  QObject::connect(&model_, &QAbstractItemModel::modelReset, [&] { ++reset; });
  QObject::connect(&model_, &QAbstractItemModel::dataChanged,
                   [&](const QModelIndex& from) { changed += from.column() == 0 ? 1 : 0; });
  feeder_.Chunk(1, kUp, "abc");
  feeder_.Open(3);
  feeder_.Open(4);
  model_.Update(&store_);
  EXPECT_EQ(model_.rowCount(), 4);
  EXPECT_EQ(inserted, 1) << "both new sessions at once";
  EXPECT_EQ(changed, 1) << "session 1's row";
  EXPECT_EQ(reset, 0);
  model_.Update(nullptr);
  EXPECT_EQ(model_.rowCount(), 0);
  EXPECT_EQ(reset, 1);
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

  SessionListProxy proxy(&model_);
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
    proxy.SetFilterText(c.filter);
    std::vector<QString> seen;
    for (int row = 0; row < proxy.rowCount(); ++row) seen.push_back(Cell(proxy, row, 0));
    EXPECT_EQ(seen, c.numbers) << c.filter;
  }
}

// The shared matching keeps the rows Qt's own case-insensitive filter keeps,
// in the scripts it folds.
TEST_F(SessionListModelTest, FilterKeepsWhatQtsCaseInsensitiveFilterKeeps) {
  const char* reasons[] = {"Connection REFUSED",
                           "\xC3\x89"
                           "chec \xC3\x9F \xC2\xB5s",
                           "\xCE\x86\xCE\xA3\xCE\xA9\xCF\x82 \xC5\x81\xC3\xB3"
                           "d\xC5\xBA",
                           "\xD0\x81\xD0\x96 \xC4\xB0 \xC5\xBF"};
  SessionId id = 1;
  for (const char* reason : reasons) {
    feeder_.Open(id);
    feeder_.FailConnect(id, "connect", 0, reason);
    ++id;
  }
  model_.Update(&store_);
  SessionListProxy ours(&model_);
  QSortFilterProxyModel qt;
  qt.setSourceModel(&model_);
  qt.setFilterKeyColumn(-1);
  qt.setFilterCaseSensitivity(Qt::CaseInsensitive);
  for (const char* needle : {"refused",
                             "\xC3\xA9"
                             "CHEC",
                             "\xC3\x9F", "\xCE\x9CS", "\xCE\xAC\xCF\x83\xCF\x89\xCF\x83",
                             "\xC5\x82\xC3\x93"
                             "D\xC5\xB9",
                             "\xD1\x91\xD0\xB6", "i", "\xC4\xB1", "S", "open", "zz"}) {
    ours.SetFilterText(QString::fromUtf8(needle));
    qt.setFilterFixedString(QString::fromUtf8(needle));
    std::vector<QString> kept_by_ours, kept_by_qt;
    for (int row = 0; row < ours.rowCount(); ++row) kept_by_ours.push_back(Cell(ours, row, 0));
    for (int row = 0; row < qt.rowCount(); ++row) kept_by_qt.push_back(Cell(qt, row, 0));
    EXPECT_EQ(kept_by_ours, kept_by_qt) << needle;
  }
}

TEST(ConversationModelTest, LinesWithDirectionColourHeaderAndHighlightRoles) {
  CaptureStore store;
  EventFeeder feeder(&store);
  feeder.OpenAndConnect(1);
  feeder.Chunk(1, kUp, "GET / HTTP/1.1\r\n");
  feeder.Chunk(1, kDown, std::string("caf\xc3\xa9 ok", 8));
  ConversationModel model;
  int inserted = 0;
  QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
  model.SetSession(&store, 1);
  while (model.Load(std::chrono::milliseconds(1000))) {
  }
  ASSERT_EQ(model.rowCount(), 4);
  EXPECT_EQ(inserted, 1);
  for (int row = 0; row < model.rowCount(); ++row) {
    EXPECT_EQ(Cell(model, row, 0), QString::fromStdString(model.lines().LineText(row)));
  }
  EXPECT_EQ(Cell(model, 3, 0), QString::fromUtf8("< caf\u00e9 ok"));
  EXPECT_EQ(model.data(model.index(1), ConversationModel::kDirectionRole).toInt(), 0);
  EXPECT_EQ(model.data(model.index(3), ConversationModel::kDirectionRole).toInt(), 1);
  EXPECT_TRUE(model.data(model.index(0), ConversationModel::kHeaderRole).toBool());
  EXPECT_FALSE(model.data(model.index(1), ConversationModel::kHeaderRole).toBool());
  EXPECT_NE(model.data(model.index(1), Qt::ForegroundRole),
            model.data(model.index(3), Qt::ForegroundRole));
  // Columns in the characters QString counts: "< café " is 7 of them.
  int highlighted = 0;
  QObject::connect(&model, &QAbstractItemModel::dataChanged, [&] { ++highlighted; });
  model.SetHighlight(model.Find("ok", std::nullopt, true));
  EXPECT_EQ(highlighted, 1);
  EXPECT_EQ(model.data(model.index(3), ConversationModel::kHighlightRole).toPoint(), QPoint(7, 9));
  EXPECT_FALSE(model.data(model.index(1), ConversationModel::kHighlightRole).isValid());
}

}  // namespace
}  // namespace portwick

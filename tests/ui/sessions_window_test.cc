// The Sessions window driven as a user would: selecting a session shows its
// conversation, the filter box narrows the list, F3 finds and selects, Follow
// keeps the end in view until the user scrolls up, Copy fills the clipboard,
// Export writes files through the Save dialog seam and reports failures, and
// the keys reach what they name.
#include "ui/qt/sessions_window.h"

#include <gtest/gtest.h>

#include <QtCore/QSortFilterProxyModel>
#include <QtCore/QTemporaryDir>
#include <QtGui/QClipboard>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QTableView>
#include <optional>
#include <string>
#include <vector>

#include "capture_events.h"
#include "read_file.h"
#include "scripted_file_choosers.h"
#include "serve_events_until.h"
#include "ui/qt/session_list_model.h"

namespace portwick {
namespace {

using testing::EventFeeder;
using testing::ReadFile;
constexpr Direction kUp = Direction::kClientToServer;
constexpr Direction kDown = Direction::kServerToClient;

class SessionsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    feeder_.OpenAndConnect(1);
    feeder_.Chunk(1, kUp, "GET /index.html HTTP/1.1\r\nHost: example\r\n\r\n");
    feeder_.Chunk(1, kDown, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
    feeder_.OpenAndConnect(2);
    feeder_.Chunk(2, kUp, std::string("\x00\x01\x02\xff", 4));
    feeder_.Open(3);
    feeder_.FailConnect(3, "connect", 111, "Connection refused");
    feeder_.Close(3, CloseReason::kConnectFailed);
    window_.SetStore(store_);
    window_.resize(800, 500);
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    window_.Refresh();
  }

  std::vector<QString> ConversationLines() const {
    std::vector<QString> lines;
    const QAbstractItemModel* model = window_.conversation_view()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
      lines.push_back(model->index(row, 0).data().toString());
    }
    return lines;
  }

  std::shared_ptr<CaptureStore> store_ = std::make_shared<CaptureStore>();
  EventFeeder feeder_{store_.get()};
  ScriptedFileChoosers choosers_;
  SessionsWindow window_{&choosers_};
  QTemporaryDir dir_;
};

TEST_F(SessionsWindowTest, SelectingASessionShowsItsConversationAndTheFilterNarrowsTheList) {
  EXPECT_EQ(window_.session_view()->model()->rowCount(), 3);
  EXPECT_EQ(window_.selected_session(), 3u) << "the newest, as the window opened";
  window_.SelectSession(1);
  EXPECT_EQ(window_.selected_session(), 1u);
  std::vector<QString> lines = ConversationLines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[1], "> GET /index.html HTTP/1.1\\r");
  EXPECT_EQ(lines[8], "< hello");

  QTest::keyClicks(window_.filter_box(), "refused");
  EXPECT_EQ(window_.session_view()->model()->rowCount(), 1);
  window_.filter_box()->clear();
  EXPECT_EQ(window_.session_view()->model()->rowCount(), 3);

  window_.SelectSession(1);
  window_.SetHexMode(true);
  lines = ConversationLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_TRUE(lines[1].startsWith("> 0000  47 45 54 20")) << lines[1].toStdString();
}

TEST_F(SessionsWindowTest, FindSelectsTheLineAndWrapsAndSaysWhenNothingMatches) {
  window_.SelectSession(1);
  QTest::keyClick(window_.conversation_view(), Qt::Key_F, Qt::ControlModifier);
  EXPECT_TRUE(window_.find_box()->hasFocus()) << "Ctrl+F";
  QTest::keyClicks(window_.find_box(), "HTTP/1.1");
  QTest::keyClick(window_.find_box(), Qt::Key_F3);
  EXPECT_EQ(window_.conversation_view()->currentIndex().row(), 1);
  // The match is highlighted, not its line: "> GET /index.html " comes before.
  const auto highlight = [&](int row) {
    return window_.conversation_model()->index(row).data(ConversationModel::kHighlightRole);
  };
  EXPECT_EQ(highlight(1).toPoint(), QPoint(18, 26));
  EXPECT_FALSE(highlight(2).isValid());
  EXPECT_TRUE(window_.conversation_view()->selectionModel()->selectedIndexes().isEmpty());
  // The chunk as its header shows it, counted from 1.
  EXPECT_TRUE(window_.message_line()->text().startsWith(
      QString::fromUtf8("Found at byte 17 of chunk 1 (client \u2192 server, 12:00:00.")))
      << window_.message_line()->text().toStdString();
  QTest::keyClick(window_.find_box(), Qt::Key_F3);
  EXPECT_EQ(window_.conversation_view()->currentIndex().row(), 5) << "the reply's status line";
  EXPECT_TRUE(window_.message_line()->text().startsWith(
      QString::fromUtf8("Found at byte 1 of chunk 2 (server \u2192 client, ")));
  QTest::keyClick(window_.find_box(), Qt::Key_F3);
  EXPECT_EQ(window_.conversation_view()->currentIndex().row(), 1) << "from the start again";
  EXPECT_TRUE(window_.message_line()->text().contains("from the start"));
  QTest::keyClick(window_.find_box(), Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(window_.conversation_view()->currentIndex().row(), 5) << "Shift+F3 goes back";

  window_.find_kind()->setCurrentIndex(1);
  window_.find_box()->setText("0d 0a 68 65 6c 6c");
  EXPECT_TRUE(window_.FindNext(true)) << "\\r\\nhell in hex, across the reply's lines";
  // In hex, bytes 36 to 41 of the reply: "< 0020 " then " hh" each, one
  // more space after the eighth.
  window_.SetHexMode(true);
  EXPECT_EQ(highlight(7).toPoint(), QPoint(20, 38));
  window_.SetHexMode(false);
  window_.find_box()->setText("0d 0");
  EXPECT_FALSE(window_.FindNext(true));
  EXPECT_TRUE(window_.message_line()->text().contains("not hex bytes"));
  window_.find_kind()->setCurrentIndex(0);
  window_.find_box()->setText("absent");
  EXPECT_FALSE(window_.FindNext(true));
  EXPECT_TRUE(window_.message_line()->text().contains("not found"));
}

TEST_F(SessionsWindowTest, FollowKeepsTheEndInViewUntilTheUserScrollsUp) {
  window_.SelectSession(1);
  QTableView* view = window_.conversation_view();
  QScrollBar* bar = view->verticalScrollBar();
  auto more = [&](int n) {
    for (int i = 0; i < n; ++i) feeder_.Chunk(1, i % 2 ? kDown : kUp, "line\n");
    window_.Refresh();
    QApplication::processEvents();
  };
  more(200);
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum()) << "followed";
  bar->setValue(bar->maximum() / 2);  // the user scrolls up
  const int held = bar->value();
  more(50);
  EXPECT_EQ(bar->value(), held) << "stays where the user is";
  bar->setValue(bar->maximum());  // back at the end
  more(50);
  EXPECT_EQ(bar->value(), bar->maximum()) << "follows again";
  window_.follow_box()->setChecked(false);
  more(50);
  EXPECT_LT(bar->value(), bar->maximum()) << "Follow off";
}

TEST_F(SessionsWindowTest, CopyAsTextOrHexAndExportThroughTheSaveDialog) {
  window_.SelectSession(2);
  QTableView* view = window_.conversation_view();
  view->selectionModel()->select(view->model()->index(1, 0), QItemSelectionModel::Select);
  view->setFocus();
  ServeEventsUntil([&] { return view->hasFocus(); });
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "\\0\\x01\\x02\\xff\n");
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "00 01 02 ff\n");

  ASSERT_TRUE(dir_.isValid());
  const std::string bytes = dir_.filePath("up.bin").toStdString();
  choosers_.answers = {bytes, dir_.filePath("no/such/folder/x.pcapng").toStdString()};
  window_.Export(SessionsWindow::ExportKind::kClientBytes);
  EXPECT_EQ(ReadFile(bytes), std::string("\x00\x01\x02\xff", 4));
  ASSERT_EQ(choosers_.requests.size(), 1u);
  EXPECT_EQ(choosers_.requests[0].initial_name, "session-2-client-to-server.bin");
  EXPECT_TRUE(window_.message_line()->text().startsWith("Exported to "));

  window_.Export(SessionsWindow::ExportKind::kPcapngAll);
  ASSERT_EQ(choosers_.errors.size(), 1u);
  EXPECT_NE(choosers_.errors[0].find(": open: No such file or directory"), std::string::npos)
      << choosers_.errors[0];
  window_.Export(SessionsWindow::ExportKind::kTranscript);  // cancelled: nothing happens
  EXPECT_EQ(choosers_.errors.size(), 1u);
}

TEST_F(SessionsWindowTest, ANewStoreStartsOverAndTheListSortsByAnyColumn) {
  window_.SelectSession(1);
  auto* proxy = window_.session_proxy();
  window_.session_view()->sortByColumn(SessionListModel::kUp, Qt::DescendingOrder);
  EXPECT_EQ(proxy->index(0, 0).data().toString(), "1") << "44 bytes up, the most";
  auto other = std::make_shared<CaptureStore>();
  window_.SetStore(other);
  EXPECT_EQ(window_.session_view()->model()->rowCount(), 0);
  EXPECT_EQ(window_.conversation_view()->model()->rowCount(), 0);
  EXPECT_EQ(window_.selected_session(), 0u);
}

}  // namespace
}  // namespace portwick

// The output pane's bound: the oldest lines leave first, overlong lines go
// on in the next line (and copy back joined), text that comes faster than the
// GUI thread shows it leaves an unbroken tail, and Clear drops queued text.
#include <gtest/gtest.h>

#include <QtGui/QClipboard>
#include <QtGui/QTextBlock>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>
#include <cstring>
#include <string>
#include <thread>

#include "serve_events_until.h"
#include "trafficlog/window_log_sink.h"
#include "ui/framework/qt/output_pane_widget.h"

namespace portwick {
namespace {

OutputPaneWidget::Limits SmallLimits() {
  OutputPaneWidget::Limits limits;
  limits.max_chars = 1000;
  limits.max_lines = 20;
  limits.max_line_chars = 64;
  return limits;
}

// The pane's text with the breaks of overlong lines taken out again.
QString Joined(OutputPaneWidget& pane) {
  pane.selectAll();
  return pane.SelectedText();
}

// Lines "line 0\n" ... as one string.
std::string Lines(int from, int to) {
  std::string text;
  for (int i = from; i < to; ++i) text += "line " + std::to_string(i) + "\n";
  return text;
}

struct BoundCase {
  const char* name;
  std::string appended;
};

class OutputPaneBoundTest : public testing::TestWithParam<BoundCase> {};

// Whatever is appended, the pane ends up within its limits, holding a tail
// of what was appended that starts at a line (or piece of a line) and whose
// lines are never longer than the limit.
TEST_P(OutputPaneBoundTest, HoldsTheNewestWholeLinesWithinItsLimits) {
  const OutputPaneWidget::Limits limits = SmallLimits();
  OutputPaneWidget pane(limits);
  const std::string& appended = GetParam().appended;
  for (size_t at = 0; at < appended.size(); at += 37) {
    pane.AppendText(appended.substr(at, 37).c_str());
  }
  QTextDocument* doc = pane.document();
  EXPECT_LE(doc->characterCount() - 1, limits.max_chars);
  EXPECT_LE(doc->blockCount(), limits.max_lines);
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
    EXPECT_LE(b.length() - 1, limits.max_line_chars);
  }
  const QString kept = Joined(pane);
  const QString all = QString::fromStdString(appended);
  ASSERT_TRUE(all.endsWith(kept)) << "an unbroken tail";
  // It keeps as much as its limits let it: one more old line would not fit.
  const bool everything = kept.size() == all.size();
  EXPECT_TRUE(everything || doc->blockCount() == limits.max_lines ||
              doc->characterCount() - 1 > limits.max_chars - limits.max_line_chars - 1)
      << "trimmed more than needed";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutputPaneBoundTest,
    testing::Values(BoundCase{"many_short_lines", Lines(0, 500)},
                    BoundCase{"one_endless_line", std::string(5000, 'x') + "end"},
                    BoundCase{"long_lines", std::string(300, 'a') + "\n" + std::string(700, 'b') +
                                                "\n" + std::string(900, 'c')},
                    BoundCase{"fits", "small\ntext"}),
    [](const testing::TestParamInfo<BoundCase>& param) { return std::string(param.param.name); });

TEST(OutputPaneBoundTest, OverlongLinesGoOnInTheNextLineAndCopyBackJoined) {
  OutputPaneWidget pane(SmallLimits());
  const std::string line(150, 'q');
  pane.AppendText(("head\n" + line + "\ntail").c_str());
  EXPECT_EQ(pane.blockCount(), 5) << "head, 64 + 64 + 22 characters, tail";
  EXPECT_EQ(Joined(pane), QString::fromStdString("head\n" + line + "\ntail"));
  // A selection that starts inside a continued line copies only its part.
  QTextCursor cursor = pane.textCursor();
  cursor.setPosition(5 + 60);
  cursor.setPosition(5 + 70, QTextCursor::KeepAnchor);
  pane.setTextCursor(cursor);
  EXPECT_EQ(pane.SelectedText(), QString(9, u'q')) << "4 + 5, no line break between";
}

TEST(OutputPaneBoundTest, TextFasterThanTheGuiThreadLeavesAnUnbrokenTail) {
  OutputPaneWidget pane(SmallLimits());
  pane.AppendText("shown before\n");
  // 100 records of 30 characters from another thread while this thread
  // serves nothing: far more than the pane holds.
  std::thread writer([&pane] {
    for (int i = 0; i < 100; ++i) {
      const std::string record = "record " + std::to_string(1000 + i) + std::string(17, '.') + "\n";
      pane.AppendText(record.c_str());
    }
  });
  writer.join();
  EXPECT_LE(pane.queued_chars(), pane.limits().max_chars);
  ASSERT_TRUE(QTest::qWaitFor([&] { return pane.queued_chars() == 0; }, 5000));
  const QString text = pane.toPlainText();
  EXPECT_FALSE(text.contains("shown before")) << "older than text that was dropped";
  EXPECT_TRUE(text.endsWith("record 1099.................\n"));
  // Every record but possibly a cut first line is whole and in order.
  const QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_GE(lines.size(), 10);
  for (qsizetype i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i], QString("record %1.................").arg(1100 - lines.size() + i));
  }
}

TEST(OutputPaneBoundTest, ClearDropsQueuedTextToo) {
  OutputPaneWidget pane;
  pane.AppendText("old\n");
  std::thread writer([&pane] { pane.AppendText("queued, not shown yet\n"); });
  writer.join();
  EXPECT_GT(pane.queued_chars(), 0);
  pane.ClearText();
  QTest::qWait(2 * static_cast<int>(pane.limits().delivery_interval.count()));
  EXPECT_EQ(pane.toPlainText(), "");
  pane.AppendText("new");
  EXPECT_EQ(pane.toPlainText(), "new");
}

// A synchronous window sink still logs a record before it is sent on: when
// Write returns on a relay thread the pane holds the text, queued or shown,
// and the GUI thread shows it in that order.
TEST(OutputPaneBoundTest, SynchronousSinkHasTheRecordInThePaneWhenWriteReturns) {
  OutputPaneWidget pane;
  WindowLogSink sink(&pane);
  std::thread relay([&] {
    for (const char* record : {"request\n", "reply\n"}) {
      LogCall call;
      sink.Write(call, record, static_cast<int32_t>(std::strlen(record)));
      EXPECT_GT(pane.queued_chars(), 0) << record;
      sink.ReleaseOutput(call);
    }
  });
  relay.join();
  EXPECT_EQ(pane.queued_chars(), qsizetype{14});
  ServeEventsUntil([&] { return pane.queued_chars() == 0; }, 5000);
  EXPECT_EQ(pane.toPlainText(), QString("request\nreply\n"));
}

}  // namespace
}  // namespace portwick

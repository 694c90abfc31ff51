// The output pane as the window sinks use it: appends from other threads never
// wait for the GUI thread and show whole and in order at the next delivery,
// appends on the GUI thread are immediate, text goes to the end and into
// view, and cleared or appended text can't be undone.
#include "ui/framework/qt/output_pane_widget.h"

#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <QtWidgets/QScrollBar>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "main_window_fixture.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/main_window_template.h"

namespace portwick {
namespace {

TEST(OutputPaneWidgetTest, AppendsFromOtherThreadsNeverWaitAndShowWholeAndInOrder) {
  OutputPaneWidget pane;
  constexpr int kThreads = 4;
  constexpr int kRecords = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRecords; ++i) {
        const std::string record = "<" + std::to_string(t) + ":" + std::to_string(i) + ">";
        pane.AppendText(record.c_str());
      }
    });
  }
  // This thread serves no events while it joins: the appends must not wait
  // for it.
  for (std::thread& thread : threads) thread.join();
  EXPECT_TRUE(pane.toPlainText().isEmpty()) << "shown by a delivery on the GUI thread";
  ASSERT_TRUE(QTest::qWaitFor([&] { return pane.queued_chars() == 0; }, 5000));
  const std::string text = pane.toPlainText().toStdString();
  for (int t = 0; t < kThreads; ++t) {
    size_t from = 0;
    for (int i = 0; i < kRecords; ++i) {
      const std::string record = "<" + std::to_string(t) + ":" + std::to_string(i) + ">";
      const size_t at = text.find(record, from);
      ASSERT_NE(at, std::string::npos) << record << " whole and in order";
      from = at + record.size();
    }
  }
  EXPECT_EQ(pane.blockCount(), 1);
}

TEST(OutputPaneWidgetTest, AppendsAtTheEndDecodedAndBringsTheLastLineIntoView) {
  OutputPaneWidget pane;
  pane.resize(200, 100);
  pane.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
  pane.setPlainText("typed by the user");
  QTextCursor start = pane.textCursor();
  start.setPosition(0);
  pane.setTextCursor(start);
  pane.AppendText("|caf\xC3\xA9 ");  // on the GUI thread: at once
  pane.AppendText("");
  pane.AppendText("a\0b");
  EXPECT_EQ(pane.toPlainText(), QString::fromUtf8("typed by the user|caf\xC3\xA9 a"));

  std::string lines;
  for (int i = 0; i < 300; ++i) lines += "line " + std::to_string(i) + "\n";
  pane.AppendText(lines.c_str());
  const QScrollBar* bar = pane.verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_EQ(pane.blockCount(), 301) << "no limit";
}

TEST(OutputPaneWidgetTest, AppendedAndClearedTextCannotBeUndone) {
  OutputPaneWidget pane;
  pane.AppendText("first ");
  pane.AppendText("second");
  pane.undo();
  EXPECT_EQ(pane.toPlainText(), "first second");
  pane.ClearText();
  pane.undo();
  EXPECT_EQ(pane.toPlainText(), "");
}

TEST_F(MainWindowTest, ClearEmptiesTheWindowsPaneForGood) {
  TemplateDialog& d = Open(ProxySettings{});
  ASSERT_EQ(d.OutputPane(kOutputPane), QtPaneOf(window_->output_pane()));
  QtPaneOf(window_->output_pane())->AppendText("some traffic\n");
  Command(kClearButton);
  QtPaneOf(window_->output_pane())->undo();
  EXPECT_TRUE(d.OutputPane(kOutputPane)->toPlainText().isEmpty());
}

}  // namespace
}  // namespace portwick

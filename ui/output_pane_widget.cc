#include "ui/output_pane_widget.h"

#include <QMetaObject>
#include <QScrollBar>
#include <QString>
#include <QTextDocument>
#include <QThread>

namespace portwick {

OutputPaneWidget::OutputPaneWidget(QWidget* parent) : QPlainTextEdit(parent) {
  // As the template's pane: scroll bars always there, no wrapping, editable,
  // Tab moves the focus on.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setReadOnly(false);
  setTabChangesFocus(true);
  setFocusPolicy(Qt::StrongFocus);
  setMaximumBlockCount(0);  // no limit
}

OutputPaneWidget::~OutputPaneWidget() = default;

void OutputPaneWidget::AppendText(const char* text) {
  if (text == nullptr) return;
  if (QThread::currentThread() == thread()) {
    // A blocking queued call to our own thread would wait for itself.
    AppendOnOwnThread(text);
    return;
  }
  // `text` stays valid: the caller waits here until the GUI thread has run it.
  QMetaObject::invokeMethod(
      this, [this, text] { AppendOnOwnThread(text); }, Qt::BlockingQueuedConnection);
}

void OutputPaneWidget::AppendOnOwnThread(const char* text) {
  const QString decoded = QString::fromLocal8Bit(text);
  if (decoded.isEmpty()) return;
  // Turning undo off clears its history, so neither this text nor what came
  // before it can be taken back with undo; the user's own edits afterwards
  // can be.
  QTextDocument* doc = document();
  doc->setUndoRedoEnabled(false);
  moveCursor(QTextCursor::End);
  insertPlainText(decoded);
  doc->setUndoRedoEnabled(true);
  // The last line comes into view.
  QScrollBar* bar = verticalScrollBar();
  bar->setValue(bar->maximum());
}

void OutputPaneWidget::ClearText() {
  // clear() also drops the undo history.
  clear();
}

}  // namespace portwick

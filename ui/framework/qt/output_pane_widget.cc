#include "ui/framework/qt/output_pane_widget.h"

#include <malloc.h>

#include <QMetaObject>
#include <QMimeData>
#include <QScrollBar>
#include <QString>
#include <QTextBlock>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace portwick {

namespace {

// Block user state of a line that goes on from the line before it: the pane
// broke an overlong line there.
constexpr int kContinuedLine = 1;
// Characters taken off the queue at a time during a delivery.
constexpr qsizetype kDeliveryPiece = 16 * 1024;

bool IsLineBreak(QChar c) { return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator; }

// Undo stays off while the pane changes its text by itself; turning it off
// also forgets the history, so nothing before this point can be undone.
class UndoOff {
 public:
  explicit UndoOff(QTextDocument* doc) : doc_(doc) { doc_->setUndoRedoEnabled(false); }
  ~UndoOff() { doc_->setUndoRedoEnabled(true); }
  UndoOff(const UndoOff&) = delete;
  UndoOff& operator=(const UndoOff&) = delete;

 private:
  QTextDocument* doc_;
};

}  // namespace

OutputPaneWidget::OutputPaneWidget(const Limits& limits, QWidget* parent)
    : QPlainTextEdit(parent),
      limits_{
          std::max<qsizetype>(limits.max_chars, 1), std::max(limits.max_lines, 1),
          std::clamp<qsizetype>(limits.max_line_chars, 1, std::max<qsizetype>(limits.max_chars, 1)),
          limits.delivery_interval, limits.delivery_budget},
      queue_(limits_.max_chars),
      delivery_timer_(new QTimer(this)) {
  // As the template's pane: scroll bars always there, no wrapping, editable,
  // Tab moves the focus on.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setReadOnly(false);
  setTabChangesFocus(true);
  setFocusPolicy(Qt::StrongFocus);
  delivery_timer_->setSingleShot(true);
  connect(delivery_timer_, &QTimer::timeout, this, [this] { Deliver(limits_.delivery_budget); });
}

OutputPaneWidget::~OutputPaneWidget() = default;

void OutputPaneWidget::AppendText(const char* text) {
  if (text == nullptr || *text == '\0') return;
  QString decoded = QString::fromLocal8Bit(text);
  if (QThread::currentThread() == thread()) {
    DeliverAll();
    Insert(decoded);
    Trim();
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->maximum());
    return;
  }
  // Posted once per delivery: later appends find it asked for already.
  if (queue_.Push(std::move(decoded))) {
    QMetaObject::invokeMethod(
        this, [this] { ScheduleDelivery(); }, Qt::QueuedConnection);
  }
}

void OutputPaneWidget::ScheduleDelivery() {
  if (delivery_timer_->isActive()) return;
  const auto interval = limits_.delivery_interval;
  const auto since =
      since_delivery_.isValid() ? std::chrono::milliseconds(since_delivery_.elapsed()) : interval;
  delivery_timer_->start(since >= interval ? std::chrono::milliseconds(0) : interval - since);
}

void OutputPaneWidget::DeliverAll() {
  delivery_timer_->stop();
  Deliver(std::chrono::milliseconds::max());
}

void OutputPaneWidget::Deliver(std::chrono::milliseconds budget) {
  QElapsedTimer spent;
  spent.start();
  bool changed = false;
  for (;;) {
    PaneTextQueue::Batch batch = queue_.Take(kDeliveryPiece);
    if (batch.discard_shown) {
      // Newer text than all of this has been dropped on its way here.
      UndoOff undo_off(document());
      clear();
      changed = true;
    }
    if (batch.text.isEmpty()) break;
    Insert(batch.text);
    Trim();
    changed = true;
    if (budget != std::chrono::milliseconds::max() &&
        std::chrono::milliseconds(spent.elapsed()) >= budget) {
      break;
    }
  }
  since_delivery_.start();
  if (changed) {
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->maximum());
  }
  if (queue_.size() > 0) ScheduleDelivery();
}

void OutputPaneWidget::Insert(const QString& text) {
  if (text.isEmpty()) return;
  QTextDocument* doc = document();
  UndoOff undo_off(doc);
  QTextCursor cursor(doc);
  cursor.movePosition(QTextCursor::End);
  cursor.beginEditBlock();
  qsizetype line = doc->lastBlock().length() - 1;  // characters in the last line
  qsizetype from = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (IsLineBreak(text[i])) {
      line = 0;
      continue;
    }
    if (line == limits_.max_line_chars) {
      cursor.insertText(text.mid(from, i - from));
      cursor.insertBlock();
      cursor.block().setUserState(kContinuedLine);
      from = i;
      line = 0;
    }
    ++line;
  }
  cursor.insertText(from == 0 ? text : text.mid(from));
  cursor.endEditBlock();
  // As appending at a selection set to the end did: the caret goes there.
  moveCursor(QTextCursor::End);
}

void OutputPaneWidget::Trim() {
  QTextDocument* doc = document();
  const qsizetype chars = doc->characterCount() - 1;  // the last block's separator not counted
  const int lines = doc->blockCount();
  if (chars <= limits_.max_chars && lines <= limits_.max_lines) return;
  // The oldest whole lines leave: up to the first line that starts late
  // enough for both limits. Lines are never longer than max_line_chars, so
  // the last one alone always fits.
  int cut = 0;
  if (chars > limits_.max_chars) {
    const qsizetype excess = chars - limits_.max_chars;
    QTextBlock block = doc->findBlock(static_cast<int>(excess - 1));
    cut = block.next().isValid() ? block.next().position() : doc->lastBlock().position();
  }
  if (lines > limits_.max_lines) {
    cut = std::max(cut, doc->findBlockByNumber(lines - limits_.max_lines).position());
  }
  if (cut <= 0) return;
  UndoOff undo_off(doc);
  QTextCursor cursor(doc);
  cursor.setPosition(cut, QTextCursor::KeepAnchor);
  cursor.removeSelectedText();
  // The first line left is a line of its own now.
  cursor.block().setUserState(-1);
}

void OutputPaneWidget::ClearText() {
  queue_.Clear();
  delivery_timer_->stop();
  // clear() also drops the undo history.
  clear();
  // The document's blocks were many small allocations; hand the freed pages
  // back to the system rather than keep them for a pane that may stay empty.
  malloc_trim(0);
}

QMimeData* OutputPaneWidget::createMimeDataFromSelection() const {
  auto* mime = new QMimeData;  // owned by the caller
  mime->setText(SelectedText());
  return mime;
}

QString OutputPaneWidget::SelectedText() const {
  const QTextCursor selection = textCursor();
  const int start = selection.selectionStart();
  const int end = selection.selectionEnd();
  QString text;
  for (QTextBlock block = document()->findBlock(start); block.isValid() && block.position() <= end;
       block = block.next()) {
    if (block.position() > start && block.userState() != kContinuedLine) text += u'\n';
    const int from = std::max(start - block.position(), 0);
    const int to = std::min(end - block.position(), block.length() - 1);
    if (to > from) text += block.text().mid(from, to - from);
  }
  return text;
}

OutputPaneWidget* QtPaneOf(PaneControl* pane) { return static_cast<OutputPaneWidget*>(pane); }

}  // namespace portwick

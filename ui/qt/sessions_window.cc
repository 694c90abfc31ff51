#include "ui/qt/sessions_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>

#include "ui/qt/session_list_model.h"
#include "ui/sessions/view_rules.h"

namespace portwick {

namespace {

constexpr const char* kGeometryKey = "sessions_window/geometry";
constexpr const char* kSplitterKey = "sessions_window/splitter";

// Draws a conversation line as usual, then the characters of a Find match
// (ConversationModel::kHighlightRole) in the selection's colours on top.
class MatchDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    const QVariant range = index.data(ConversationModel::kHighlightRole);
    if (!range.isValid()) return;
    const QPoint columns = range.toPoint();
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QWidget* widget = option.widget;
    const QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    QRect text_rect = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    text_rect.adjust(margin, 0, -margin, 0);
    const QString& text = item.text;
    const QString part = text.mid(columns.x(), columns.y() - columns.x());
    const QFontMetrics metrics(item.font);
    const int left = text_rect.left() + metrics.horizontalAdvance(text.left(columns.x()));
    const QRect mark(left, option.rect.top(), metrics.horizontalAdvance(part),
                     option.rect.height());
    painter->save();
    painter->fillRect(mark, option.palette.brush(QPalette::Active, QPalette::Highlight));
    painter->setFont(item.font);
    painter->setPen(option.palette.color(QPalette::Active, QPalette::HighlightedText));
    painter->drawText(mark, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, part);
    painter->restore();
  }
};

}  // namespace

SessionsWindow::SessionsWindow(FileChoosers* choosers, QWidget* parent)
    : QWidget(parent, Qt::Window),
      choosers_(choosers),
      sessions_(new SessionListModel(this)),
      proxy_(new SessionListProxy(sessions_, this)),
      conversation_(new ConversationModel(this)) {
  setWindowTitle("Sessions - Portwick");
  BuildWidgets();
  BuildShortcuts();
  refresh_timer_ = new QTimer(this);
  refresh_timer_->setInterval(kRefreshMs);
  connect(refresh_timer_, &QTimer::timeout, this, [this] { Refresh(); });
  resize(1000, 640);
  RestoreGeometry();
}

SessionsWindow::~SessionsWindow() = default;

void SessionsWindow::BuildWidgets() {
  auto* layout = new QVBoxLayout(this);

  auto* filter_row = new QHBoxLayout;
  auto* filter_label = new QLabel("F&ilter:", this);
  filter_box_ = new QLineEdit(this);
  filter_box_->setPlaceholderText("text in any column");
  filter_box_->setClearButtonEnabled(true);
  filter_label->setBuddy(filter_box_);
  connect(filter_box_, &QLineEdit::textChanged, this,
          [this](const QString& text) { SetFilter(text); });
  filter_row->addWidget(filter_label);
  filter_row->addWidget(filter_box_, 1);
  layout->addLayout(filter_row);

  splitter_ = new QSplitter(Qt::Vertical, this);
  session_view_ = new QTableView(splitter_);
  session_view_->setModel(proxy_);
  session_view_->setSortingEnabled(true);
  session_view_->sortByColumn(SessionListModel::kNumber, Qt::AscendingOrder);
  session_view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  session_view_->setSelectionMode(QAbstractItemView::SingleSelection);
  session_view_->verticalHeader()->hide();
  session_view_->verticalHeader()->setDefaultSectionSize(session_view_->fontMetrics().height() + 6);
  session_view_->horizontalHeader()->setStretchLastSection(true);
  // Widths from samples of each column's longest usual text, so that no
  // cell needs measuring however many rows there are.
  const QFontMetrics metrics = session_view_->fontMetrics();
  const std::pair<int, const char*> widths[] = {
      {SessionListModel::kNumber, "00000"},
      {SessionListModel::kClient, "127.0.0.1:65535"},
      {SessionListModel::kDestination, "127.0.0.1:65535"},
      {SessionListModel::kOpened, "00:00:00.000000"},
      // A refused connect's reason fits; longer ones have a tooltip.
      {SessionListModel::kState, "failed: connect: Connection refused"},
      {SessionListModel::kUp, "1023 MiB"},
      {SessionListModel::kDown, "1023 MiB"},
      {SessionListModel::kDuration, "59 min 59 s"},
  };
  for (const auto& [column, sample] : widths) {
    session_view_->horizontalHeader()->resizeSection(
        column,
        metrics.horizontalAdvance(QString::fromLatin1(sample)) + 3 * metrics.averageCharWidth());
  }
  session_view_->setTabKeyNavigation(false);
  session_view_->setAccessibleName("Sessions");
  connect(session_view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { OnCurrentSessionChanged(); });

  auto* lower = new QWidget(splitter_);
  auto* lower_layout = new QVBoxLayout(lower);
  lower_layout->setContentsMargins(0, 0, 0, 0);
  auto* tools = new QHBoxLayout;
  hex_box_ = new QCheckBox("He&x", lower);
  connect(hex_box_, &QCheckBox::toggled, this, [this](bool hex) { SetHexMode(hex); });
  follow_box_ = new QCheckBox("F&ollow", lower);
  follow_box_->setChecked(true);
  follow_box_->setToolTip(
      "Keep the newest chunk in view while the conversation is scrolled to its end");
  auto* find_label = new QLabel("&Find:", lower);
  find_box_ = new QLineEdit(lower);
  find_box_->setPlaceholderText("text, \\r \\n \\xNN escapes");
  find_label->setBuddy(find_box_);
  connect(find_box_, &QLineEdit::returnPressed, this, [this] { FindNext(true); });
  find_kind_ = new QComboBox(lower);
  find_kind_->addItems({"Text", "Hex bytes"});
  find_kind_->setAccessibleName("Find as");
  auto* previous = new QPushButton("&Previous", lower);
  previous->setToolTip("Shift+F3");
  connect(previous, &QPushButton::clicked, this, [this] { FindNext(false); });
  auto* next = new QPushButton("&Next", lower);
  next->setToolTip("F3");
  connect(next, &QPushButton::clicked, this, [this] { FindNext(true); });
  export_button_ = new QPushButton("&Export", lower);
  auto* export_menu = new QMenu(export_button_);
  const std::pair<const char*, ExportKind> exports[] = {
      {"Client \u2192 server bytes...", ExportKind::kClientBytes},
      {"Server \u2192 client bytes...", ExportKind::kServerBytes},
      {"Text transcript...", ExportKind::kTranscript},
      {"pcapng of this session...", ExportKind::kPcapngSession},
      {"pcapng of all sessions...", ExportKind::kPcapngAll},
  };
  for (const auto& [text, kind] : exports) {
    export_menu->addAction(QString::fromUtf8(text), this, [this, kind = kind] { Export(kind); });
  }
  export_button_->setMenu(export_menu);
  tools->addWidget(hex_box_);
  tools->addWidget(follow_box_);
  tools->addSpacing(12);
  tools->addWidget(find_label);
  tools->addWidget(find_box_, 1);
  tools->addWidget(find_kind_);
  tools->addWidget(previous);
  tools->addWidget(next);
  tools->addSpacing(12);
  tools->addWidget(export_button_);
  lower_layout->addLayout(tools);

  // A one-column table: its header keeps rows of one height without a
  // record per row, so millions of lines insert and scroll in constant time
  // (a list view lays all rows out again on every insertion).
  conversation_view_ = new QTableView(lower);
  conversation_view_->setModel(conversation_);
  conversation_view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  conversation_view_->setItemDelegate(new MatchDelegate(conversation_view_));
  conversation_view_->horizontalHeader()->hide();
  conversation_view_->verticalHeader()->hide();
  conversation_view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  conversation_view_->verticalHeader()->setDefaultSectionSize(
      QFontMetrics(conversation_view_->font()).height() + 2);
  conversation_view_->horizontalHeader()->setStretchLastSection(true);
  conversation_view_->horizontalHeader()->setMinimumSectionSize(
      QFontMetrics(conversation_view_->font()).averageCharWidth() * 160);
  conversation_view_->setShowGrid(false);
  conversation_view_->setWordWrap(false);
  conversation_view_->setTabKeyNavigation(false);
  conversation_view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  conversation_view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  conversation_view_->setAccessibleName("Conversation");
  conversation_view_->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* copy_text = new QAction("&Copy", conversation_view_);
  copy_text->setShortcut(QKeySequence::Copy);
  copy_text->setShortcutContext(Qt::WidgetShortcut);
  connect(copy_text, &QAction::triggered, this, [this] { CopySelection(false); });
  auto* copy_hex = new QAction("Copy as &Hex", conversation_view_);
  copy_hex->setShortcut(QKeySequence("Ctrl+Shift+C"));
  copy_hex->setShortcutContext(Qt::WidgetShortcut);
  connect(copy_hex, &QAction::triggered, this, [this] { CopySelection(true); });
  conversation_view_->addAction(copy_text);
  conversation_view_->addAction(copy_hex);
  lower_layout->addWidget(conversation_view_, 1);

  // Follow: rows that arrive while the view is at its end scroll into view.
  connect(conversation_, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
    const QScrollBar* bar = conversation_view_->verticalScrollBar();
    follow_.BeforeInsert(bar->value() >= bar->maximum());
  });
  connect(conversation_, &QAbstractItemModel::rowsInserted, this, [this] {
    if (follow_.ScrollToEnd(follow_box_->isChecked())) conversation_view_->scrollToBottom();
  });

  splitter_->addWidget(session_view_);
  splitter_->addWidget(lower);
  splitter_->setStretchFactor(0, 1);
  splitter_->setStretchFactor(1, 2);
  layout->addWidget(splitter_, 1);

  message_ = new QLabel(this);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(message_);

  setTabOrder(filter_box_, session_view_);
  setTabOrder(session_view_, hex_box_);
  setTabOrder(hex_box_, follow_box_);
  setTabOrder(follow_box_, find_box_);
  setTabOrder(find_box_, find_kind_);
  setTabOrder(find_kind_, previous);
  setTabOrder(previous, next);
  setTabOrder(next, export_button_);
  setTabOrder(export_button_, conversation_view_);
}

void SessionsWindow::BuildShortcuts() {
  auto add = [this](const QKeySequence& keys, auto handler) {
    auto* shortcut = new QShortcut(keys, this);  // owned by this window
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, handler);
    return shortcut;
  };
  add(QKeySequence::Find, [this] {
    find_box_->setFocus(Qt::ShortcutFocusReason);
    find_box_->selectAll();
  });
  add(QKeySequence(Qt::Key_F3), [this] { FindNext(true); });
  add(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { FindNext(false); });
  // Esc held after it closed a popup (the find kind's list) leaves the
  // window open: only a fresh press closes it.
  add(QKeySequence(Qt::Key_Escape), [this] { close(); })->setAutoRepeat(false);
}

void SessionsWindow::SetStore(std::shared_ptr<const CaptureStore> store) {
  if (store == store_) return;
  conversation_->SetSession(nullptr, 0);
  match_.reset();
  store_ = std::move(store);
  sessions_->Update(store_.get());
}

void SessionsWindow::Refresh() {
  sessions_->Update(store_.get());
  if (conversation_->store() != nullptr) conversation_->Load(kLoadBudget);
}

void SessionsWindow::SetFilter(const QString& text) {
  if (filter_box_->text() != text) filter_box_->setText(text);  // comes back here
  proxy_->SetFilterText(text);
}

SessionId SessionsWindow::selected_session() const { return conversation_->session(); }

void SessionsWindow::SelectSession(SessionId id) {
  const int row = sessions_->RowOf(id);
  if (row < 0) return;
  const QModelIndex index = proxy_->mapFromSource(sessions_->index(row, 0));
  if (!index.isValid()) return;
  session_view_->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  session_view_->scrollTo(index);
}

void SessionsWindow::OnCurrentSessionChanged() {
  const QModelIndex current = proxy_->mapToSource(session_view_->currentIndex());
  const CapturedSession* session = sessions_->SessionAt(current.row());
  // A session that the filter hides (or the store dropped) stays shown below
  // until another one is chosen.
  if (session == nullptr) return;
  const SessionId id = session->id;
  if (id == conversation_->session()) return;
  match_.reset();
  conversation_->SetSession(store_.get(), id);
  follow_.Restart();
  conversation_->Load(kLoadBudget);
}

void SessionsWindow::SetHexMode(bool hex) {
  if (hex_box_->isChecked() != hex) hex_box_->setChecked(hex);  // comes back here
  const auto mode = hex ? ConversationModel::Mode::kHex : ConversationModel::Mode::kText;
  if (conversation_->mode() == mode) return;
  // Keep the first line in view on the same byte, unless the view follows
  // the end.
  const QScrollBar* bar = conversation_view_->verticalScrollBar();
  const bool following = bar->value() >= bar->maximum();
  const QModelIndex top = conversation_view_->indexAt(QPoint(0, 0));
  const ConversationModel::LineBytes line = conversation_->BytesOf(top.row());
  conversation_->SetMode(mode);  // lays out anew from the first page
  if (following || !top.isValid()) {
    follow_.Restart();
    conversation_->Load(kLoadBudget);
    return;
  }
  follow_.set_holding(true);
  const int row =
      conversation_->lines().LoadUntilShown({line.chunk_index, line.begin}, kHoldPlaceBudget);
  if (row >= 0) {
    conversation_view_->scrollTo(conversation_->index(line.header ? row - 1 : row),
                                 QAbstractItemView::PositionAtTop);
  }
  follow_.set_holding(false);
}

void SessionsWindow::Say(const std::string& text) {
  message_->setText(QString::fromStdString(text));
}

void SessionsWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Refresh();
  if (const std::optional<SessionId> newest = SessionToSelectOnShow(
          session_view_->selectionModel()->hasSelection(), sessions_->table())) {
    SelectSession(*newest);
  }
  refresh_timer_->start();
}

void SessionsWindow::hideEvent(QHideEvent* event) {
  refresh_timer_->stop();
  SaveGeometry();
  QWidget::hideEvent(event);
}

void SessionsWindow::SaveGeometry() const {
  QSettings settings("portwick", "portwick");
  settings.setValue(kGeometryKey, saveGeometry());
  settings.setValue(kSplitterKey, splitter_->saveState());
}

void SessionsWindow::RestoreGeometry() {
  QSettings settings("portwick", "portwick");
  restoreGeometry(settings.value(kGeometryKey).toByteArray());
  splitter_->restoreState(settings.value(kSplitterKey).toByteArray());
}

}  // namespace portwick

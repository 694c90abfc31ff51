#include "ui/qt/session_list_model.h"

#include <QBrush>
#include <QColor>
#include <QString>
#include <utility>

#include "ui/sessions/session_texts.h"

namespace portwick {

SessionListModel::SessionListModel(QObject* parent, Clock now)
    : QAbstractTableModel(parent), table_(this, std::move(now)) {}

void SessionListModel::RowsChanged(int first, int last) {
  emit dataChanged(index(first, 0), index(last, kColumnCount - 1));
}

void SessionListModel::DurationsChanged() {
  emit dataChanged(index(0, kDuration), index(rowCount() - 1, kDuration),
                   {Qt::DisplayRole, kSortRole});
}

int SessionListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : table_.row_count();
}

int SessionListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant SessionListModel::data(const QModelIndex& index, int role) const {
  const CapturedSession* s = SessionAt(index.row());
  if (s == nullptr || index.column() < 0 || index.column() >= kColumnCount) return {};
  const auto column = static_cast<Column>(index.column());
  if (role == kSessionIdRole) return QVariant::fromValue<qulonglong>(s->id);
  if (role == Qt::TextAlignmentRole) {
    const bool number = SessionTable::IsNumberColumn(column);
    return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
  }
  if (role == Qt::ForegroundRole && s->state == CapturedState::kFailed) {
    return QBrush(QColor(0xB0, 0x00, 0x20));
  }
  if (role == Qt::ToolTipRole && column == kState) return QString::fromStdString(StateText(*s));
  if (role == kSortRole) {
    const SessionTable::SortKey key = table_.SortKeyOf(index.row(), column);
    if (const auto* number = std::get_if<uint64_t>(&key)) {
      return QVariant::fromValue<qulonglong>(*number);
    }
    if (const auto* number = std::get_if<int64_t>(&key)) {
      return QVariant::fromValue<qlonglong>(*number);
    }
    return QString::fromStdString(std::get<std::string>(key));
  }
  if (role != Qt::DisplayRole) return {};
  return QString::fromStdString(table_.CellText(index.row(), column));
}

QVariant SessionListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= kColumnCount) return {};
  return QString::fromLatin1(SessionTable::ColumnTitle(static_cast<Column>(section)));
}

SessionListProxy::SessionListProxy(SessionListModel* source, QObject* parent)
    : QSortFilterProxyModel(parent), source_(source) {
  setSourceModel(source);
  setSortRole(SessionListModel::kSortRole);
}

void SessionListProxy::SetFilterText(const QString& text) {
  std::string needle = text.toStdString();
  if (needle == needle_) return;
  needle_ = std::move(needle);
  invalidateFilter();
}

bool SessionListProxy::filterAcceptsRow(int source_row, const QModelIndex& source_parent) const {
  return !source_parent.isValid() && RowMatches(source_->table(), source_row, needle_);
}

}  // namespace portwick

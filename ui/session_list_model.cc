#include "ui/session_list_model.h"

#include <QBrush>
#include <QColor>
#include <QString>
#include <algorithm>
#include <unordered_set>
#include <utility>

#include "capture/session_label.h"
#include "capture/trace_format.h"
#include "ui/session_texts.h"

namespace portwick {

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

QString ClockText(const EventTime& time) {
  std::string text;
  AppendClockTime(text, time.wall);
  return Text(text);
}

}  // namespace

SessionListModel::SessionListModel(QObject* parent, Clock now)
    : QAbstractTableModel(parent),
      now_(now ? std::move(now) : Clock([] { return std::chrono::steady_clock::now(); })) {}

void SessionListModel::Update(const CaptureStore* store) {
  if (store != store_) Reset(store);
  if (store_ == nullptr) return;
  const CaptureCounts counts = store_->Counts();
  const bool dropped = counts.sessions_dropped != sessions_dropped_;
  if (counts.sequence != sequence_ || dropped) {
    std::vector<CapturedSession> changed = store_->Sessions(dropped ? 0 : sequence_);
    if (dropped) RemoveGone(changed);
    sequence_ = counts.sequence;
    sessions_dropped_ = counts.sessions_dropped;
    Apply(std::move(changed));
  }
  // The durations of open sessions go on.
  if (!rows_.empty()) {
    emit dataChanged(index(0, kDuration), index(static_cast<int>(rows_.size()) - 1, kDuration),
                     {Qt::DisplayRole, kSortRole});
  }
}

void SessionListModel::Reset(const CaptureStore* store) {
  beginResetModel();
  store_ = store;
  sequence_ = 0;
  sessions_dropped_ = 0;
  rows_.clear();
  row_of_.clear();
  endResetModel();
}

void SessionListModel::RemoveGone(const std::vector<CapturedSession>& listed) {
  std::unordered_set<SessionId> kept;
  for (const CapturedSession& session : listed) kept.insert(session.id);
  // From the end, a run of rows at a time, so row numbers before stay valid.
  int row = static_cast<int>(rows_.size()) - 1;
  while (row >= 0) {
    if (kept.count(rows_[static_cast<size_t>(row)].id) != 0) {
      --row;
      continue;
    }
    int first = row;
    while (first > 0 && kept.count(rows_[static_cast<size_t>(first - 1)].id) == 0) --first;
    beginRemoveRows({}, first, row);
    rows_.erase(rows_.begin() + first, rows_.begin() + row + 1);
    endRemoveRows();
    row = first - 1;
  }
  row_of_.clear();
  for (size_t i = 0; i < rows_.size(); ++i) row_of_[rows_[i].id] = static_cast<int>(i);
}

void SessionListModel::Apply(std::vector<CapturedSession> changed) {
  std::vector<CapturedSession> added;
  int first_changed = -1, last_changed = -1;
  for (CapturedSession& session : changed) {
    auto it = row_of_.find(session.id);
    if (it == row_of_.end()) {
      added.push_back(std::move(session));
      continue;
    }
    rows_[static_cast<size_t>(it->second)] = std::move(session);
    first_changed = first_changed < 0 ? it->second : std::min(first_changed, it->second);
    last_changed = std::max(last_changed, it->second);
  }
  if (first_changed >= 0) {
    emit dataChanged(index(first_changed, 0), index(last_changed, kColumnCount - 1));
  }
  if (added.empty()) return;
  // The store lists by id; new sessions come after the ones shown.
  std::sort(added.begin(), added.end(),
            [](const CapturedSession& a, const CapturedSession& b) { return a.id < b.id; });
  const int first = static_cast<int>(rows_.size());
  beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
  for (CapturedSession& session : added) {
    row_of_[session.id] = static_cast<int>(rows_.size());
    rows_.push_back(std::move(session));
  }
  endInsertRows();
}

const CapturedSession* SessionListModel::SessionAt(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  return &rows_[static_cast<size_t>(row)];
}

int SessionListModel::RowOf(SessionId id) const {
  auto it = row_of_.find(id);
  return it == row_of_.end() ? -1 : it->second;
}

int SessionListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int SessionListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

std::chrono::nanoseconds SessionListModel::DurationOf(const CapturedSession& session) const {
  if (session.ended()) return session.duration;
  return std::max(std::chrono::nanoseconds(0), std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                   now_() - session.opened.monotonic));
}

QVariant SessionListModel::data(const QModelIndex& index, int role) const {
  const CapturedSession* s = SessionAt(index.row());
  if (s == nullptr || index.column() < 0 || index.column() >= kColumnCount) return {};
  const auto column = static_cast<Column>(index.column());
  if (role == kSessionIdRole) return QVariant::fromValue<qulonglong>(s->id);
  if (role == Qt::TextAlignmentRole) {
    const bool number = column == kNumber || column == kUp || column == kDown ||
                        column == kDuration || column == kTrimmed;
    return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
  }
  if (role == Qt::ForegroundRole && s->state == CapturedState::kFailed) {
    return QBrush(QColor(0xB0, 0x00, 0x20));
  }
  if (role == Qt::ToolTipRole && column == kState) return Text(StateText(*s));
  if (role == kSortRole) {
    switch (column) {
      case kNumber:
        return QVariant::fromValue<qulonglong>(s->id);
      case kOpened:
        return QVariant::fromValue<qlonglong>(s->opened.wall.time_since_epoch().count());
      case kUp:
        return QVariant::fromValue<qulonglong>(s->bytes_up);
      case kDown:
        return QVariant::fromValue<qulonglong>(s->bytes_down);
      case kDuration:
        return QVariant::fromValue<qlonglong>(DurationOf(*s).count());
      case kTrimmed:
        return QVariant::fromValue<qulonglong>(s->bytes_dropped);
      default:
        break;  // sorted by the text shown
    }
  }
  if (role != Qt::DisplayRole && role != kSortRole) return {};
  switch (column) {
    case kNumber:
      return Text(SessionLabel(s->id));
    case kClient:
      return Text(s->client.ToString());
    case kDestination:
      return Text(DestinationText(*s));
    case kOpened:
      return ClockText(s->opened);
    case kState:
      return Text(StateText(*s));
    case kUp:
      return Text(SizeText(s->bytes_up));
    case kDown:
      return Text(SizeText(s->bytes_down));
    case kDuration:
      return Text(DurationText(DurationOf(*s)));
    case kTrimmed:
      return s->trimmed() ? Text(SizeText(s->bytes_dropped) + " dropped") : QString();
    case kColumnCount:
      break;
  }
  return {};
}

QVariant SessionListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kTitles[kColumnCount] = {
      "#", "Client", "Destination", "Opened", "State", "Up", "Down", "Duration", "Trimmed"};
  if (section < 0 || section >= kColumnCount) return {};
  return QString::fromLatin1(kTitles[section]);
}

}  // namespace portwick

#include "ui/sessions/session_table.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "capture/session_label.h"
#include "capture/trace_format.h"
#include "ui/sessions/case_fold.h"
#include "ui/sessions/session_texts.h"

namespace portwick {

namespace {

// Hears nothing; stands in when no view watches.
class NoObserver : public SessionTable::Observer {
 public:
  void BeforeReset() override {}
  void AfterReset() override {}
  void BeforeRemove(int, int) override {}
  void AfterRemove() override {}
  void BeforeInsert(int, int) override {}
  void AfterInsert() override {}
  void RowsChanged(int, int) override {}
  void DurationsChanged() override {}
};

SessionTable::Observer* OrNone(SessionTable::Observer* observer) {
  static NoObserver none;
  return observer != nullptr ? observer : &none;
}

}  // namespace

SessionTable::SessionTable(Observer* observer, Clock now)
    : observer_(OrNone(observer)),
      now_(now ? std::move(now) : Clock([] { return std::chrono::steady_clock::now(); })) {}

void SessionTable::Update(const CaptureStore* store) {
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
  if (!rows_.empty()) observer_->DurationsChanged();
}

void SessionTable::Reset(const CaptureStore* store) {
  observer_->BeforeReset();
  store_ = store;
  sequence_ = 0;
  sessions_dropped_ = 0;
  rows_.clear();
  row_of_.clear();
  observer_->AfterReset();
}

void SessionTable::RemoveGone(const std::vector<CapturedSession>& listed) {
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
    observer_->BeforeRemove(first, row);
    rows_.erase(rows_.begin() + first, rows_.begin() + row + 1);
    observer_->AfterRemove();
    row = first - 1;
  }
  row_of_.clear();
  for (size_t i = 0; i < rows_.size(); ++i) row_of_[rows_[i].id] = static_cast<int>(i);
}

void SessionTable::Apply(std::vector<CapturedSession> changed) {
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
  if (first_changed >= 0) observer_->RowsChanged(first_changed, last_changed);
  if (added.empty()) return;
  // The store lists by id; new sessions come after the ones shown.
  std::sort(added.begin(), added.end(),
            [](const CapturedSession& a, const CapturedSession& b) { return a.id < b.id; });
  const int first = static_cast<int>(rows_.size());
  observer_->BeforeInsert(first, first + static_cast<int>(added.size()) - 1);
  for (CapturedSession& session : added) {
    row_of_[session.id] = static_cast<int>(rows_.size());
    rows_.push_back(std::move(session));
  }
  observer_->AfterInsert();
}

const CapturedSession* SessionTable::SessionAt(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  return &rows_[static_cast<size_t>(row)];
}

int SessionTable::RowOf(SessionId id) const {
  auto it = row_of_.find(id);
  return it == row_of_.end() ? -1 : it->second;
}

std::chrono::nanoseconds SessionTable::DurationOf(const CapturedSession& session) const {
  if (session.ended()) return session.duration;
  return std::max(std::chrono::nanoseconds(0), std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                   now_() - session.opened.monotonic));
}

std::string SessionTable::CellText(int row, Column column) const {
  const CapturedSession* s = SessionAt(row);
  if (s == nullptr) return {};
  switch (column) {
    case kNumber:
      return SessionLabel(s->forward(), s->number());
    case kClient:
      return s->client.ToString();
    case kDestination:
      return DestinationText(*s);
    case kOpened: {
      std::string text;
      AppendClockTime(text, s->opened.wall);
      return text;
    }
    case kState:
      return StateText(*s);
    case kUp:
      return SizeText(s->bytes_up);
    case kDown:
      return SizeText(s->bytes_down);
    case kDuration:
      return DurationText(DurationOf(*s));
    case kTrimmed:
      return s->trimmed() ? SizeText(s->bytes_dropped) + " dropped" : std::string();
    case kColumnCount:
      break;
  }
  return {};
}

SessionTable::SortKey SessionTable::SortKeyOf(int row, Column column) const {
  const CapturedSession* s = SessionAt(row);
  if (s == nullptr) return std::string();
  switch (column) {
    case kNumber:
      return uint64_t{s->id};
    case kOpened:
      return int64_t{s->opened.wall.time_since_epoch().count()};
    case kUp:
      return uint64_t{s->bytes_up};
    case kDown:
      return uint64_t{s->bytes_down};
    case kDuration:
      return int64_t{DurationOf(*s).count()};
    case kTrimmed:
      return uint64_t{s->bytes_dropped};
    default:
      return CellText(row, column);  // sorted by the text shown
  }
}

const char* SessionTable::ColumnTitle(Column column) {
  static const char* const kTitles[kColumnCount] = {
      "#", "Client", "Destination", "Opened", "State", "Up", "Down", "Duration", "Trimmed"};
  return column >= 0 && column < kColumnCount ? kTitles[column] : "";
}

bool SessionTable::IsNumberColumn(Column column) {
  return column == kNumber || column == kUp || column == kDown || column == kDuration ||
         column == kTrimmed;
}

bool RowMatches(const SessionTable& table, int row, std::string_view needle) {
  if (needle.empty()) return true;
  const std::string folded_needle = FoldCase(needle);
  for (int column = 0; column < SessionTable::kColumnCount; ++column) {
    const std::string text = table.CellText(row, static_cast<SessionTable::Column>(column));
    if (FoldCase(text).find(folded_needle) != std::string::npos) return true;
  }
  return false;
}

}  // namespace portwick

#ifndef PORTWICK_UI_SESSIONS_SESSION_TABLE_H_
#define PORTWICK_UI_SESSIONS_SESSION_TABLE_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "capture/capture_store.h"

namespace portwick {

// The sessions of a capture store as a table, one row per listed session in
// the order they were opened, with each cell's text (UTF-8) and the value it
// sorts by. Update() brings it up to date with what changed in the store
// since the last call (new sessions are appended, changed ones updated, ones
// the store dropped removed), telling its Observer before and after each
// change, so a toolkit's view keeps its selection and scroll position.
//
// Toolkit-neutral; a table model of a toolkit wraps it. One thread (the
// window's). The store is read through its snapshot methods; the table keeps
// copies, not references. The observer must outlive the table.
class SessionTable {
 public:
  enum Column {
    kNumber,
    kClient,
    kDestination,
    kOpened,
    kState,
    kUp,
    kDown,
    kDuration,
    kTrimmed,
    kColumnCount
  };

  // Rows are numbered from 0 at the time of the call.
  class Observer {
   public:
    virtual ~Observer() = default;
    virtual void BeforeReset() = 0;
    virtual void AfterReset() = 0;
    virtual void BeforeRemove(int first, int last) = 0;
    virtual void AfterRemove() = 0;
    virtual void BeforeInsert(int first, int last) = 0;
    virtual void AfterInsert() = 0;
    // Every cell of rows [first, last] may have changed.
    virtual void RowsChanged(int first, int last) = 0;
    // The durations of all rows may have changed (open sessions run on).
    virtual void DurationsChanged() = 0;
  };

  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `now` gives the time that open sessions' durations run to (tests fix it).
  explicit SessionTable(Observer* observer = nullptr, Clock now = {});
  SessionTable(const SessionTable&) = delete;
  SessionTable& operator=(const SessionTable&) = delete;

  // Takes what changed in `store` since the last Update; null empties the
  // table. A different store than last time starts over.
  void Update(const CaptureStore* store);

  int row_count() const { return static_cast<int>(rows_.size()); }
  const CapturedSession* SessionAt(int row) const;
  int RowOf(SessionId id) const;

  // The text of a cell of a row in range.
  std::string CellText(int row, Column column) const;
  // What a cell sorts by: numbers as numbers (sizes, durations, times), the
  // text shown otherwise.
  using SortKey = std::variant<uint64_t, int64_t, std::string>;
  SortKey SortKeyOf(int row, Column column) const;

  static const char* ColumnTitle(Column column);
  // Numbers align right.
  static bool IsNumberColumn(Column column);

 private:
  void Reset(const CaptureStore* store);
  void Apply(std::vector<CapturedSession> changed);
  void RemoveGone(const std::vector<CapturedSession>& listed);
  std::chrono::nanoseconds DurationOf(const CapturedSession& session) const;

  Observer* const observer_;
  Clock now_;
  const CaptureStore* store_ = nullptr;
  uint64_t sequence_ = 0;          // Counts().sequence at the last Update
  uint64_t sessions_dropped_ = 0;  // Counts().sessions_dropped at the last Update
  std::vector<CapturedSession> rows_;
  std::unordered_map<SessionId, int> row_of_;
};

// Whether a row shows `needle` in the text of any of its cells, regardless
// of case (FoldCase, ui/sessions/case_fold.h): the rows the Sessions list's
// filter box keeps. An empty needle keeps every row.
bool RowMatches(const SessionTable& table, int row, std::string_view needle);

}  // namespace portwick

#endif  // PORTWICK_UI_SESSIONS_SESSION_TABLE_H_

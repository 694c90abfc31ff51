#ifndef PORTWICK_UI_SESSIONS_SESSION_ORDER_H_
#define PORTWICK_UI_SESSIONS_SESSION_ORDER_H_

#include <string>
#include <vector>

#include "ui/sessions/session_table.h"

namespace portwick {

// Which rows of a SessionTable a list shows and in what order, for a
// toolkit whose list has no sorting and filtering model of its own (Qt's
// window uses a QSortFilterProxyModel over the same rules): the rows that
// show the filter text (RowMatches), sorted by one column's SortKeyOf, rows
// with equal keys in the table's order (the order sessions were opened).
//
// Holds row numbers, not sessions: Rebuild after every change of the table.
// One thread (the window's).
class SessionOrder {
 public:
  // Takes effect at the next Rebuild.
  void SetFilter(std::string needle) { needle_ = std::move(needle); }
  void SetSort(SessionTable::Column column, bool ascending) {
    column_ = column;
    ascending_ = ascending;
  }
  const std::string& filter() const { return needle_; }
  SessionTable::Column sort_column() const { return column_; }
  bool ascending() const { return ascending_; }

  void Rebuild(const SessionTable& table);

  int size() const { return static_cast<int>(rows_.size()); }
  // The table row shown at `view_row`; -1 out of range.
  int TableRow(int view_row) const;
  // Where table row `table_row` is shown; -1 when the filter hides it.
  int ViewRow(int table_row) const;

 private:
  std::string needle_;
  SessionTable::Column column_ = SessionTable::kNumber;
  bool ascending_ = true;
  std::vector<int> rows_;     // view row -> table row
  std::vector<int> view_of_;  // table row -> view row or -1
};

}  // namespace portwick

#endif  // PORTWICK_UI_SESSIONS_SESSION_ORDER_H_

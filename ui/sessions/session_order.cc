#include "ui/sessions/session_order.h"

#include <algorithm>

namespace portwick {

void SessionOrder::Rebuild(const SessionTable& table) {
  rows_.clear();
  view_of_.assign(static_cast<size_t>(table.row_count()), -1);
  std::vector<SessionTable::SortKey> keys;
  for (int row = 0; row < table.row_count(); ++row) {
    if (!RowMatches(table, row, needle_)) continue;
    rows_.push_back(row);
    keys.push_back(table.SortKeyOf(row, column_));
  }
  std::vector<int> order(rows_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  // Stable, so equal keys keep the table's order whichever way it sorts.
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    const auto& ka = keys[static_cast<size_t>(a)];
    const auto& kb = keys[static_cast<size_t>(b)];
    return ascending_ ? ka < kb : kb < ka;
  });
  std::vector<int> sorted;
  sorted.reserve(rows_.size());
  for (int i : order) sorted.push_back(rows_[static_cast<size_t>(i)]);
  rows_ = std::move(sorted);
  for (size_t view = 0; view < rows_.size(); ++view) {
    view_of_[static_cast<size_t>(rows_[view])] = static_cast<int>(view);
  }
}

int SessionOrder::TableRow(int view_row) const {
  if (view_row < 0 || view_row >= size()) return -1;
  return rows_[static_cast<size_t>(view_row)];
}

int SessionOrder::ViewRow(int table_row) const {
  if (table_row < 0 || static_cast<size_t>(table_row) >= view_of_.size()) return -1;
  return view_of_[static_cast<size_t>(table_row)];
}

}  // namespace portwick

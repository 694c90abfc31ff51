#ifndef PORTWICK_UI_SESSION_LIST_MODEL_H_
#define PORTWICK_UI_SESSION_LIST_MODEL_H_

#include <QAbstractTableModel>
#include <chrono>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "capture/capture_store.h"

namespace portwick {

// The sessions of a capture store as a table, one row per listed session in
// the order they were opened. Update() brings it up to date with what changed
// in the store since the last call (new sessions are appended, changed ones
// updated, ones the store dropped removed), so a view keeps its selection and
// scroll position. Sorting and filtering are left to a proxy model:
// kSortRole gives each cell's value for sorting (numbers as numbers).
//
// GUI thread only. The store is read through its snapshot methods; the model
// keeps copies, not references.
class SessionListModel : public QAbstractTableModel {
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
  static constexpr int kSortRole = Qt::UserRole;
  static constexpr int kSessionIdRole = Qt::UserRole + 1;

  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `now` gives the time that open sessions' durations run to (tests fix it).
  explicit SessionListModel(QObject* parent = nullptr, Clock now = {});

  // Takes what changed in `store` since the last Update; null empties the
  // model. A different store than last time starts over.
  void Update(const CaptureStore* store);

  const CapturedSession* SessionAt(int row) const;
  int RowOf(SessionId id) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  void Reset(const CaptureStore* store);
  void Apply(std::vector<CapturedSession> changed);
  void RemoveGone(const std::vector<CapturedSession>& listed);
  std::chrono::nanoseconds DurationOf(const CapturedSession& session) const;

  Clock now_;
  const CaptureStore* store_ = nullptr;
  uint64_t sequence_ = 0;          // Counts().sequence at the last Update
  uint64_t sessions_dropped_ = 0;  // Counts().sessions_dropped at the last Update
  std::vector<CapturedSession> rows_;
  std::unordered_map<SessionId, int> row_of_;
};

}  // namespace portwick

#endif  // PORTWICK_UI_SESSION_LIST_MODEL_H_

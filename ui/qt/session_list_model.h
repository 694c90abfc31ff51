#ifndef PORTWICK_UI_QT_SESSION_LIST_MODEL_H_
#define PORTWICK_UI_QT_SESSION_LIST_MODEL_H_

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>
#include <string>

#include "capture/capture_store.h"
#include "ui/sessions/session_table.h"

namespace portwick {

// The sessions of a capture store as a Qt table model: the rows, texts and
// sort values of a SessionTable (ui/sessions/, which takes what changed in
// the store on each Update) with Qt's roles on top. Sorting and filtering
// are left to SessionListProxy: kSortRole gives each cell's value for
// sorting (numbers as numbers).
//
// GUI thread only.
class SessionListModel : public QAbstractTableModel, private SessionTable::Observer {
 public:
  using Column = SessionTable::Column;
  static constexpr Column kNumber = SessionTable::kNumber;
  static constexpr Column kClient = SessionTable::kClient;
  static constexpr Column kDestination = SessionTable::kDestination;
  static constexpr Column kOpened = SessionTable::kOpened;
  static constexpr Column kState = SessionTable::kState;
  static constexpr Column kUp = SessionTable::kUp;
  static constexpr Column kDown = SessionTable::kDown;
  static constexpr Column kDuration = SessionTable::kDuration;
  static constexpr Column kTrimmed = SessionTable::kTrimmed;
  static constexpr Column kColumnCount = SessionTable::kColumnCount;
  static constexpr int kSortRole = Qt::UserRole;
  static constexpr int kSessionIdRole = Qt::UserRole + 1;

  using Clock = SessionTable::Clock;

  // `now` gives the time that open sessions' durations run to (tests fix it).
  explicit SessionListModel(QObject* parent = nullptr, Clock now = {});

  const SessionTable& table() const { return table_; }
  // As SessionTable; the model's rows follow.
  void Update(const CaptureStore* store) { table_.Update(store); }
  const CapturedSession* SessionAt(int row) const { return table_.SessionAt(row); }
  int RowOf(SessionId id) const { return table_.RowOf(id); }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  void BeforeReset() override { beginResetModel(); }
  void AfterReset() override { endResetModel(); }
  void BeforeRemove(int first, int last) override { beginRemoveRows({}, first, last); }
  void AfterRemove() override { endRemoveRows(); }
  void BeforeInsert(int first, int last) override { beginInsertRows({}, first, last); }
  void AfterInsert() override { endInsertRows(); }
  void RowsChanged(int first, int last) override;
  void DurationsChanged() override;

  SessionTable table_;
};

// Sorts a SessionListModel by kSortRole and keeps the rows that show the
// filter text in any column, regardless of case (RowMatches, shared with
// other toolkits' Sessions windows). `source` must outlive the proxy.
//
// GUI thread only.
class SessionListProxy : public QSortFilterProxyModel {
 public:
  explicit SessionListProxy(SessionListModel* source, QObject* parent = nullptr);

  // Keeps only the rows that show `text`; empty keeps all.
  void SetFilterText(const QString& text);

 protected:
  bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override;

 private:
  SessionListModel* const source_;
  std::string needle_;  // UTF-8
};

}  // namespace portwick

#endif  // PORTWICK_UI_QT_SESSION_LIST_MODEL_H_

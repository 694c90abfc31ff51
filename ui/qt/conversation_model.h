#ifndef PORTWICK_UI_QT_CONVERSATION_MODEL_H_
#define PORTWICK_UI_QT_CONVERSATION_MODEL_H_

#include <QAbstractListModel>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture_store.h"
#include "ui/sessions/conversation_lines.h"

namespace portwick {

// One session's conversation for a Qt list view: the lines of a
// ConversationLines (ui/sessions/, which lays them out, loads them a page at
// a time, finds and copies) with Qt's roles on top. Each line carries its
// direction's colour (and its mark, so colour is never the only sign);
// headers are bold on a light background.
//
// GUI thread only. The store must outlive the model's use of it (SetSession
// with another store or null ends that use).
class ConversationModel : public QAbstractListModel, private ConversationLines::Observer {
 public:
  using Mode = ConversationLines::Mode;
  using Place = ConversationLines::Place;
  using Match = ConversationLines::Match;
  using LineBytes = ConversationLines::LineBytes;
  static constexpr int kDirectionRole = Qt::UserRole;   // int: 0 client to server, 1 back
  static constexpr int kHeaderRole = Qt::UserRole + 1;  // bool: a chunk's header line
  // QPoint(first, last): the characters [first, last) of the line's text that
  // show bytes of the highlighted match; no value on other lines.
  static constexpr int kHighlightRole = Qt::UserRole + 2;

  explicit ConversationModel(QObject* parent = nullptr);

  // The lines shown, for the window's commands.
  const ConversationLines& lines() const { return lines_; }
  ConversationLines& lines() { return lines_; }

  // As ConversationLines; the model's rows follow.
  void SetSession(const CaptureStore* store, SessionId id) { lines_.SetSession(store, id); }
  SessionId session() const { return lines_.session(); }
  const CaptureStore* store() const { return lines_.store(); }
  void SetMode(Mode mode) { lines_.SetMode(mode); }
  Mode mode() const { return lines_.mode(); }
  bool Load(std::chrono::milliseconds budget) { return lines_.Load(budget); }
  std::optional<Match> Find(std::string_view needle, std::optional<Place> from,
                            bool forward) const {
    return lines_.Find(needle, from, forward);
  }
  int RowOf(const Place& place) const { return lines_.RowOf(place); }
  void SetHighlight(std::optional<Match> match) { lines_.SetHighlight(match); }
  LineBytes BytesOf(int row) const { return lines_.BytesOf(row); }
  std::string CopyText(std::vector<int> rows, bool hex) const {
    return lines_.CopyText(std::move(rows), hex);
  }

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  void BeforeReset() override { beginResetModel(); }
  void AfterReset() override { endResetModel(); }
  void BeforeInsert(int first, int last) override { beginInsertRows({}, first, last); }
  void AfterInsert() override { endInsertRows(); }
  void BeforeRemove(int first, int last) override { beginRemoveRows({}, first, last); }
  void AfterRemove() override { endRemoveRows(); }
  void HighlightChanged() override;

  ConversationLines lines_{this};
};

}  // namespace portwick

#endif  // PORTWICK_UI_QT_CONVERSATION_MODEL_H_

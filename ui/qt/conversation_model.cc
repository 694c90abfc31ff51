#include "ui/qt/conversation_model.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QPoint>

namespace portwick {

ConversationModel::ConversationModel(QObject* parent) : QAbstractListModel(parent) {}

int ConversationModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : lines_.line_count();
}

void ConversationModel::HighlightChanged() {
  if (rowCount() > 0) emit dataChanged(index(0), index(rowCount() - 1), {kHighlightRole});
}

QVariant ConversationModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const int row = index.row();
  const bool up = lines_.DirectionOf(row) == Direction::kClientToServer;
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromUtf8(lines_.LineText(row));
    case kDirectionRole:
      return up ? 0 : 1;
    case kHeaderRole:
      return lines_.IsHeader(row);
    case kHighlightRole: {
      const std::optional<ConversationLines::Columns> columns = lines_.HighlightOf(row);
      if (!columns) return {};
      return QPoint(columns->first, columns->last);
    }
    case Qt::ForegroundRole:
      // Dark blue one way, dark orange-brown the other: apart in hue and in
      // lightness, so they stay apart for most colour vision.
      return QBrush(up ? QColor(0x0B, 0x3D, 0x91) : QColor(0x8A, 0x3B, 0x00));
    case Qt::BackgroundRole:
      if (!lines_.IsHeader(row)) return {};
      return QBrush(up ? QColor(0xE3, 0xEC, 0xFA) : QColor(0xFB, 0xEB, 0xD9));
    case Qt::FontRole: {
      if (!lines_.IsHeader(row)) return {};
      QFont font;
      font.setBold(true);
      return font;
    }
    default:
      return {};
  }
}

}  // namespace portwick

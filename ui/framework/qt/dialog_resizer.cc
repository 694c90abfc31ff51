#include "ui/framework/qt/dialog_resizer.h"

#include <QSizeGrip>
#include <QWidget>
#include <utility>

namespace portwick {

LayoutRect LayoutRectFrom(const QRect& r) {
  return LayoutRect{r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

QRect ToQRect(const LayoutRect& r) {
  return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

DialogResizer::DialogResizer(QWidget* window, QWidget* client, std::span<const ResizeEntry> table,
                             FindControl find_control, bool with_grip)
    : window_(window), client_(client), find_control_(std::move(find_control)) {
  state_.Reset(client_->width(), client_->height());

  if (with_grip) {
    grip_ = new QSizeGrip(client_);  // owned by client_
    const QSize hint = grip_->sizeHint();
    grip_->setGeometry(client_->width() - hint.width(), client_->height() - hint.height(),
                       hint.width(), hint.height());
    grip_->raise();
    state_.AddEntry(kSizeGripId, kMoveX | kMoveY | kRepaint | kGripMark,
                    LayoutRectFrom(grip_->geometry()));
  }

  minimum_size_ = window_->size();
  window_->setMinimumSize(minimum_size_);

  state_.AddTable(
      table, [this](int id) { return find_control_(id) != nullptr; },
      [this](int id) { return LayoutRectFrom(find_control_(id)->geometry()); });
}

DialogResizer::~DialogResizer() = default;

QWidget* DialogResizer::WidgetOf(const LayoutEntry& entry) const {
  if (entry.flags & kGripMark) return grip_;
  return find_control_(entry.id);
}

void DialogResizer::OnSize(SizeType type, int width, int height) {
  if (grip_ != nullptr) {
    if (type == SizeType::kMaximized) {
      grip_->hide();
    } else if (type == SizeType::kRestored) {
      grip_->show();
    }
  }
  if (type == SizeType::kMinimized) return;

  const bool visible = window_->isVisible();
  if (visible) window_->setUpdatesEnabled(false);
  const auto& entries = state_.entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    const LayoutEntry& entry = entries[i];
    if ((entry.flags & kPlacementFlags) == 0) continue;
    QWidget* widget = WidgetOf(entry);
    if (widget == nullptr) continue;
    const LayoutRect placed = state_.Place(i, LayoutRectFrom(widget->geometry()), width, height);
    widget->setGeometry(ToQRect(placed));
    if (entry.flags & kRepaint) widget->update();
  }
  if (visible) {
    window_->setUpdatesEnabled(true);
    window_->update();
  }
}

}  // namespace portwick

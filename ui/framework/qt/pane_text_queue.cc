#include "ui/framework/qt/pane_text_queue.h"

#include <algorithm>
#include <utility>

namespace portwick {

PaneTextQueue::PaneTextQueue(qsizetype max_chars) : max_chars_(std::max<qsizetype>(max_chars, 1)) {}

bool PaneTextQueue::Push(QString text) {
  if (text.isEmpty()) return false;
  // Only the newest max_chars characters of a long text can ever be shown.
  if (text.size() > max_chars_) text.remove(0, text.size() - max_chars_);
  MutexLock lock(&mutex_);
  const qsizetype over = size_ + text.size() - max_chars_;
  if (over > 0) DropOldest(over);
  size_ += text.size();
  if (!pieces_.empty() && pieces_.back().size() < kPieceChars) {
    pieces_.back().append(text);
  } else {
    pieces_.push_back(std::move(text));
  }
  return !std::exchange(delivery_asked_, true);
}

void PaneTextQueue::DropOldest(qsizetype chars) {
  discard_shown_ = true;
  while (chars > 0 && !pieces_.empty()) {
    const qsizetype left = pieces_.front().size() - front_offset_;
    if (left <= chars) {
      chars -= left;
      size_ -= left;
      pieces_.pop_front();
      front_offset_ = 0;
    } else {
      front_offset_ += chars;
      size_ -= chars;
      chars = 0;
    }
  }
}

PaneTextQueue::Batch PaneTextQueue::Take(qsizetype max_chars) {
  Batch batch;
  MutexLock lock(&mutex_);
  batch.discard_shown = std::exchange(discard_shown_, false);
  while (!pieces_.empty() && batch.text.size() < max_chars) {
    QString& front = pieces_.front();
    const qsizetype want = max_chars - batch.text.size();
    const qsizetype left = front.size() - front_offset_;
    if (left <= want) {
      if (front_offset_ == 0 && batch.text.isEmpty()) {
        batch.text = std::move(front);
      } else {
        batch.text.append(QStringView(front).mid(front_offset_));
      }
      pieces_.pop_front();
      front_offset_ = 0;
      size_ -= left;
    } else {
      batch.text.append(QStringView(front).mid(front_offset_, want));
      front_offset_ += want;
      size_ -= want;
    }
  }
  if (pieces_.empty()) delivery_asked_ = false;
  return batch;
}

void PaneTextQueue::Clear() {
  MutexLock lock(&mutex_);
  pieces_.clear();
  front_offset_ = 0;
  size_ = 0;
  discard_shown_ = false;
}

qsizetype PaneTextQueue::size() const {
  MutexLock lock(&mutex_);
  return size_;
}

}  // namespace portwick

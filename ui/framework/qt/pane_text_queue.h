#ifndef PORTWICK_UI_FRAMEWORK_QT_PANE_TEXT_QUEUE_H_
#define PORTWICK_UI_FRAMEWORK_QT_PANE_TEXT_QUEUE_H_

#include <QString>
#include <cstddef>
#include <deque>

#include "base/mutex.h"

namespace portwick {

// Text handed to the output pane that the GUI thread has not shown yet.
// Writers (relay threads, sink workers) push decoded text and never wait for
// the GUI thread: the queue holds at most `max_chars` characters, and when a
// push would pass that, the oldest characters leave first. Text that old
// would also have left the pane itself, so the queue then reports that the
// pane must drop what it shows before it appends the rest: the pane always
// shows one unbroken tail of the traffic.
//
// Thread safety: every method from any thread; the lock is held for a copy
// or a move of a few strings only.
class PaneTextQueue {
 public:
  // What the GUI thread takes off the queue in one go.
  struct Batch {
    QString text;
    // Text before `text` was dropped: what the pane shows no longer leads
    // on to `text`, so the pane clears first.
    bool discard_shown = false;
  };

  explicit PaneTextQueue(qsizetype max_chars);
  PaneTextQueue(const PaneTextQueue&) = delete;
  PaneTextQueue& operator=(const PaneTextQueue&) = delete;

  // Appends `text`. Returns true when the queue was empty and nobody has
  // asked for a delivery since: the caller then asks the GUI thread for one.
  bool Push(QString text) LOCKS_EXCLUDED(mutex_);

  // Takes up to `max_chars` characters from the front. When the queue is
  // empty afterwards the next Push asks for a delivery again.
  Batch Take(qsizetype max_chars) LOCKS_EXCLUDED(mutex_);

  // Drops everything queued (the pane was cleared).
  void Clear() LOCKS_EXCLUDED(mutex_);

  qsizetype size() const LOCKS_EXCLUDED(mutex_);
  qsizetype max_chars() const { return max_chars_; }

 private:
  // Pieces are filled up to this size before a new one starts, so that many
  // small records don't make many small strings.
  static constexpr qsizetype kPieceChars = 64 * 1024;

  void DropOldest(qsizetype chars) EXCLUSIVE_LOCKS_REQUIRED(mutex_);

  const qsizetype max_chars_;
  mutable Mutex mutex_;
  std::deque<QString> pieces_ GUARDED_BY(mutex_);
  qsizetype front_offset_ GUARDED_BY(mutex_) = 0;  // characters of pieces_.front() already gone
  qsizetype size_ GUARDED_BY(mutex_) = 0;          // characters queued
  bool discard_shown_ GUARDED_BY(mutex_) = false;
  bool delivery_asked_ GUARDED_BY(mutex_) = false;
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_QT_PANE_TEXT_QUEUE_H_

#ifndef PORTWICK_UI_FRAMEWORK_PANE_TEXT_QUEUE_H_
#define PORTWICK_UI_FRAMEWORK_PANE_TEXT_QUEUE_H_

#include <algorithm>
#include <cstddef>
#include <deque>
#include <utility>

#include "base/mutex.h"

namespace portwick {

// Text handed to the output pane that the GUI thread has not shown yet, in
// the toolkit's own string type (QString under Qt, std::wstring under
// Win32): writers decode once, on their own thread, and the GUI thread
// inserts what it takes without another conversion.
//
// Writers (relay threads, sink workers) push text and never wait for the GUI
// thread: the queue holds at most `max_chars` characters, and when a push
// would pass that, the oldest characters leave first. Text that old would
// also have left the pane itself, so the queue then reports that the pane
// must drop what it shows before it appends the rest: the pane always shows
// one unbroken tail of the traffic.
//
// `String` needs size(), data(), append(pointer, count) and
// erase(first, last) as QString and std::basic_string have them.
//
// Thread safety: every method from any thread; the lock is held for a copy
// or a move of a few strings only.
template <typename String>
class BasicPaneTextQueue {
 public:
  // What the GUI thread takes off the queue in one go.
  struct Batch {
    String text;
    // Text before `text` was dropped: what the pane shows no longer leads
    // on to `text`, so the pane clears first.
    bool discard_shown = false;
  };

  explicit BasicPaneTextQueue(std::ptrdiff_t max_chars)
      : max_chars_(std::max<std::ptrdiff_t>(max_chars, 1)) {}
  BasicPaneTextQueue(const BasicPaneTextQueue&) = delete;
  BasicPaneTextQueue& operator=(const BasicPaneTextQueue&) = delete;

  // Appends `text`. Returns true when the queue was empty and nobody has
  // asked for a delivery since: the caller then asks the GUI thread for one.
  bool Push(String text) LOCKS_EXCLUDED(mutex_) {
    if (SizeOf(text) == 0) return false;
    // Only the newest max_chars characters of a long text can ever be shown.
    if (SizeOf(text) > max_chars_) text.erase(text.begin(), text.end() - max_chars_);
    MutexLock lock(&mutex_);
    const std::ptrdiff_t over = size_ + SizeOf(text) - max_chars_;
    if (over > 0) DropOldest(over);
    size_ += SizeOf(text);
    if (!pieces_.empty() && SizeOf(pieces_.back()) < kPieceChars) {
      pieces_.back().append(text.data(), text.size());
    } else {
      pieces_.push_back(std::move(text));
    }
    return !std::exchange(delivery_asked_, true);
  }

  // Takes up to `max_chars` characters from the front. When the queue is
  // empty afterwards the next Push asks for a delivery again.
  Batch Take(std::ptrdiff_t max_chars) LOCKS_EXCLUDED(mutex_) {
    Batch batch;
    MutexLock lock(&mutex_);
    batch.discard_shown = std::exchange(discard_shown_, false);
    while (!pieces_.empty() && SizeOf(batch.text) < max_chars) {
      String& front = pieces_.front();
      const std::ptrdiff_t want = max_chars - SizeOf(batch.text);
      const std::ptrdiff_t left = SizeOf(front) - front_offset_;
      if (left <= want) {
        if (front_offset_ == 0 && SizeOf(batch.text) == 0) {
          batch.text = std::move(front);
        } else {
          batch.text.append(front.data() + front_offset_, left);
        }
        pieces_.pop_front();
        front_offset_ = 0;
        size_ -= left;
      } else {
        batch.text.append(front.data() + front_offset_, want);
        front_offset_ += want;
        size_ -= want;
      }
    }
    if (pieces_.empty()) delivery_asked_ = false;
    return batch;
  }

  // Drops everything queued (the pane was cleared).
  void Clear() LOCKS_EXCLUDED(mutex_) {
    MutexLock lock(&mutex_);
    pieces_.clear();
    front_offset_ = 0;
    size_ = 0;
    discard_shown_ = false;
  }

  std::ptrdiff_t size() const LOCKS_EXCLUDED(mutex_) {
    MutexLock lock(&mutex_);
    return size_;
  }
  std::ptrdiff_t max_chars() const { return max_chars_; }

 private:
  // Pieces are filled up to this size before a new one starts, so that many
  // small records don't make many small strings.
  static constexpr std::ptrdiff_t kPieceChars = 64 * 1024;

  static std::ptrdiff_t SizeOf(const String& text) {
    return static_cast<std::ptrdiff_t>(text.size());
  }

  void DropOldest(std::ptrdiff_t chars) EXCLUSIVE_LOCKS_REQUIRED(mutex_) {
    discard_shown_ = true;
    while (chars > 0 && !pieces_.empty()) {
      const std::ptrdiff_t left = SizeOf(pieces_.front()) - front_offset_;
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

  const std::ptrdiff_t max_chars_;
  mutable Mutex mutex_;
  std::deque<String> pieces_ GUARDED_BY(mutex_);
  // Characters of pieces_.front() already gone.
  std::ptrdiff_t front_offset_ GUARDED_BY(mutex_) = 0;
  std::ptrdiff_t size_ GUARDED_BY(mutex_) = 0;  // characters queued
  bool discard_shown_ GUARDED_BY(mutex_) = false;
  bool delivery_asked_ GUARDED_BY(mutex_) = false;
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_PANE_TEXT_QUEUE_H_

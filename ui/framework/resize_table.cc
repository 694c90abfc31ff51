#include "ui/framework/resize_table.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace portwick {

int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  const int64_t product = static_cast<int64_t>(number) * numerator;
  const bool negative = (product < 0) != (denominator < 0);
  const uint64_t magnitude =
      product < 0 ? 0 - static_cast<uint64_t>(product) : static_cast<uint64_t>(product);
  const uint64_t divisor = denominator < 0
                               ? 0 - static_cast<uint64_t>(static_cast<int64_t>(denominator))
                               : static_cast<uint64_t>(denominator);
  // Round half away from zero: floor((2m + d) / 2d). 2m <= 2^63, no overflow.
  const uint64_t quotient = (2 * magnitude + divisor) / (2 * divisor);
  if (negative) {
    if (quotient > static_cast<uint64_t>(std::numeric_limits<int>::max()) + 1) return -1;
    return static_cast<int>(-static_cast<int64_t>(quotient));
  }
  if (quotient > static_cast<uint64_t>(std::numeric_limits<int>::max())) return -1;
  return static_cast<int>(quotient);
}

void ResizeState::Reset(int client_width, int client_height) {
  entries_.clear();
  group_of_.clear();
  client_width_ = client_width;
  client_height_ = client_height;
  group_open_ = false;
  group_start_ = 0;
}

void ResizeState::AddEntry(int id, uint32_t flags, const LayoutRect& rect) {
  entries_.push_back(LayoutEntry{id, flags, 0, rect});
  group_of_.push_back(entries_.size() - 1);
}

void ResizeState::BeginGroup() {
  EndGroup();
  group_open_ = true;
  group_start_ = entries_.size();
}

void ResizeState::AddTableEntry(int id, uint32_t flags, const LayoutRect& rect) {
  if (group_open_ && entries_.size() - group_start_ >= static_cast<size_t>(kMaxGroupEntries)) {
    // A full group is closed; the entry opens the next one.
    BeginGroup();
  }
  if (!group_open_) {
    AddEntry(id, flags, rect);
    return;
  }
  if (entries_.size() == group_start_) flags |= kBeginGroup;
  entries_.push_back(LayoutEntry{id, flags, 0, rect});
  group_of_.push_back(group_start_);
}

void ResizeState::EndGroup() {
  if (!group_open_) return;
  group_open_ = false;
  const size_t count = entries_.size() - group_start_;
  if (count > 0) entries_[group_start_].group_count = static_cast<int>(count);
}

size_t ResizeState::GroupStartOf(size_t index) const { return group_of_.at(index); }

LayoutRect ResizeState::Place(size_t index, const LayoutRect& current, int width,
                              int height) const {
  const LayoutEntry& entry = entries_.at(index);
  const int dx = width - client_width_;
  const int dy = height - client_height_;
  const size_t start = group_of_.at(index);
  const LayoutEntry& first = entries_[start];
  if (!(first.flags & kBeginGroup)) {
    return PlaceSingle(entry.flags, entry.rect, current, dx, dy);
  }
  LayoutRect bounds = first.rect;
  for (size_t i = start; i < start + static_cast<size_t>(first.group_count); ++i) {
    const LayoutRect& r = entries_[i].rect;
    bounds.left = std::min(bounds.left, r.left);
    bounds.top = std::min(bounds.top, r.top);
    bounds.right = std::max(bounds.right, r.right);
    bounds.bottom = std::max(bounds.bottom, r.bottom);
  }
  return PlaceInGroup(entry.flags, entry.rect, current, bounds, dx, dy);
}

LayoutRect PlaceSingle(uint32_t flags, const LayoutRect& recorded, const LayoutRect& current,
                       int dx, int dy) {
  LayoutRect r = current;
  if (flags & (kSizeX | kMoveX)) {
    r.right = recorded.right + dx;
    if (flags & kMoveX) r.left = recorded.left + dx;
  }
  if (flags & (kSizeY | kMoveY)) {
    r.bottom = recorded.bottom + dy;
    if (flags & kMoveY) r.top = recorded.top + dy;
  }
  return r;
}

LayoutRect PlaceInGroup(uint32_t flags, const LayoutRect& recorded, const LayoutRect& current,
                        const LayoutRect& bounds, int dx, int dy) {
  LayoutRect r = current;
  const int w = bounds.right - bounds.left;
  const int h = bounds.bottom - bounds.top;
  if (flags & (kSizeX | kMoveX)) {
    r.left = bounds.left + MulDiv(recorded.left - bounds.left, w + dx, w);
    if (flags & kSizeX) {
      r.right = bounds.left + MulDiv(recorded.right - bounds.left, w + dx, w);
    } else {
      r.right = r.left + (recorded.right - recorded.left);
    }
  }
  if (flags & (kSizeY | kMoveY)) {
    r.top = bounds.top + MulDiv(recorded.top - bounds.top, h + dy, h);
    if (flags & kSizeY) {
      r.bottom = bounds.top + MulDiv(recorded.bottom - bounds.top, h + dy, h);
    } else {
      r.bottom = r.top + (recorded.bottom - recorded.top);
    }
  }
  return r;
}

}  // namespace portwick

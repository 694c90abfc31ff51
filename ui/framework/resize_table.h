#ifndef PORTWICK_UI_FRAMEWORK_RESIZE_TABLE_H_
#define PORTWICK_UI_FRAMEWORK_RESIZE_TABLE_H_

#include <cstdint>
#include <span>
#include <vector>

namespace portwick {

// Flags of a ResizeTable entry.
inline constexpr uint32_t kSizeX = 0x1;     // the right edge follows the window
inline constexpr uint32_t kSizeY = 0x2;     // the bottom edge follows the window
inline constexpr uint32_t kMoveX = 0x4;     // moves horizontally, keeps its width
inline constexpr uint32_t kMoveY = 0x8;     // moves vertically, keeps its height
inline constexpr uint32_t kRepaint = 0x10;  // repainted after each layout
// Marker flags (entries whose id is kResizeMarkerId).
inline constexpr uint32_t kBeginGroup = 0x1000;
inline constexpr uint32_t kEndGroup = 0x2000;
// Marks the size grip's entry in a layout.
inline constexpr uint32_t kGripMark = 0x4000;

inline constexpr uint32_t kPlacementFlags = kSizeX | kSizeY | kMoveX | kMoveY | kRepaint;
inline constexpr int kResizeMarkerId = -1;
inline constexpr int kMaxGroupEntries = 255;

// One entry of a ResizeTable: a control id with its flags, or a marker
// (id kResizeMarkerId with kBeginGroup, kEndGroup, or 0 = end of table).
struct ResizeEntry {
  int id;
  uint32_t flags;
};

inline constexpr ResizeEntry kResizeBeginGroup{kResizeMarkerId, kBeginGroup};
inline constexpr ResizeEntry kResizeEndGroup{kResizeMarkerId, kEndGroup};
inline constexpr ResizeEntry kResizeEndOfTable{kResizeMarkerId, 0};

// (number * numerator) / denominator on a 64-bit product, rounded to the
// nearest integer with halves away from zero. A zero denominator or a result
// outside 32 bits gives -1.
int MulDiv(int number, int numerator, int denominator);

// A rectangle by its edges; right and bottom are exclusive (width =
// right - left).
struct LayoutRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  friend bool operator==(const LayoutRect&, const LayoutRect&) = default;
};

// One control's entry in the resize state, taken at set-up.
struct LayoutEntry {
  int id = 0;
  uint32_t flags = 0;   // placement flags, kGripMark, and kBeginGroup on a
                        // group's first entry
  int group_count = 0;  // entries in the group (first entry only)
  LayoutRect rect;      // rectangle in client coordinates at set-up
};

// The resize state of one window: the layout list and the client size at
// set-up. It never changes after set-up, so every layout starts from the same
// rectangles and repeated resizing accumulates no rounding. Plain data; any
// thread, no sharing.
class ResizeState {
 public:
  ResizeState() = default;

  // Starts an empty layout list for a client area of the given size.
  void Reset(int client_width, int client_height);

  // Appends a single entry (outside any group), e.g. the size grip.
  void AddEntry(int id, uint32_t flags, const LayoutRect& rect);

  // Walks `table` up to its end entry (or the span's end), appending each
  // control entry with the rectangle `rect_of(id)` returns; controls for
  // which `has_control(id)` is false are skipped. Groups hold at most
  // kMaxGroupEntries entries; a group left open is closed at the end.
  template <typename HasControl, typename RectOf>
  void AddTable(std::span<const ResizeEntry> table, HasControl has_control, RectOf rect_of);

  // New rectangle of `index` for a client area of width x height, starting
  // from the control's `current` rectangle (edges of axes the entry does not
  // follow are kept). Entries without placement flags come back unchanged.
  LayoutRect Place(size_t index, const LayoutRect& current, int width, int height) const;

  // Index of the first entry of the group that `index` belongs to, or
  // `index` itself for a single entry.
  size_t GroupStartOf(size_t index) const;

  const std::vector<LayoutEntry>& entries() const { return entries_; }
  int client_width() const { return client_width_; }
  int client_height() const { return client_height_; }

 private:
  void BeginGroup();
  void AddTableEntry(int id, uint32_t flags, const LayoutRect& rect);
  void EndGroup();

  std::vector<LayoutEntry> entries_;
  std::vector<size_t> group_of_;  // per entry: index of its group's first entry
  int client_width_ = 0;
  int client_height_ = 0;
  bool group_open_ = false;
  size_t group_start_ = 0;
};

// Placement of one entry that is not in a group, shifted by dx, dy.
LayoutRect PlaceSingle(uint32_t flags, const LayoutRect& recorded, const LayoutRect& current,
                       int dx, int dy);

// Placement of one group member; `bounds` is the smallest rectangle holding
// the recorded rectangles of the whole group, which stretches by dx, dy.
LayoutRect PlaceInGroup(uint32_t flags, const LayoutRect& recorded, const LayoutRect& current,
                        const LayoutRect& bounds, int dx, int dy);

template <typename HasControl, typename RectOf>
void ResizeState::AddTable(std::span<const ResizeEntry> table, HasControl has_control,
                           RectOf rect_of) {
  for (const ResizeEntry& entry : table) {
    if (entry.id == kResizeMarkerId) {
      if (entry.flags & kBeginGroup) {
        BeginGroup();
      } else if (entry.flags & kEndGroup) {
        EndGroup();
      } else if (entry.flags == 0) {
        break;
      }
      continue;
    }
    if (!has_control(entry.id)) continue;
    AddTableEntry(entry.id, entry.flags & kPlacementFlags, rect_of(entry.id));
  }
  EndGroup();
}

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_RESIZE_TABLE_H_

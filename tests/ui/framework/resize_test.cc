#include <gtest/gtest.h>

#include <QSizeGrip>
#include <QTest>
#include <map>

#include "test_dialogs.h"
#include "ui/framework/qt/dialog_resizer.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/framework/resize_table.h"

namespace portwick {
namespace {

using testing::SampleDialogTemplate;
using testing::SampleResizeTable;

TEST(MulDivTest, RoundsHalvesAwayFromZeroAndGuardsEdges) {
  struct Case {
    int number, numerator, denominator, expected;
  };
  const Case cases[] = {
      {10, 3, 4, 8},    // 7.5 -> 8
      {10, 5, 4, 13},   // 12.5 -> 13
      {-10, 3, 4, -8},  // -7.5 -> -8
      {10, -3, 4, -8},
      {10, 3, -4, -8},
      {-10, -3, -4, -8},
      {7, 1, 3, 2},  // 2.33 -> 2
      {5, 1, 3, 2},  // 1.67 -> 2
      {0, 123, 7, 0},
      {1, 1, 0, -1},          // division by zero
      {50, 131, 100, 66},     // 65.5 -> 66
      {65536, 65536, 2, -1},  // 2^31 does not fit
      {-65536, 65536, 2, -2147483647 - 1},
      {2147483647, 2147483647, 2147483647, 2147483647},  // 64-bit product
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MulDiv(c.number, c.numerator, c.denominator), c.expected)
        << c.number << " * " << c.numerator << " / " << c.denominator;
  }
}

TEST(ResizePlacementTest, SingleEntriesFollowByDeltas) {
  const LayoutRect recorded{100, 20, 150, 40};
  const LayoutRect current{1, 2, 3, 4};
  struct Case {
    uint32_t flags;
    LayoutRect expected;
  };
  const Case cases[] = {
      {kMoveX, {117, 2, 167, 4}},
      {kSizeX, {1, 2, 167, 4}},
      {kMoveY, {1, 25, 3, 45}},
      {kSizeY, {1, 2, 3, 45}},
      {kSizeX | kSizeY, {1, 2, 167, 45}},
      {kMoveX | kMoveY, {117, 25, 167, 45}},
      {kRepaint, current},
      {0, current},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PlaceSingle(c.flags, recorded, current, 17, 5), c.expected) << "flags " << c.flags;
  }
}

TEST(ResizePlacementTest, GroupMembersScaleAboutTheGroupCorner) {
  // Bounds 10..110 wide (W 100), 0..50 high (H 50); stretch by 31 and 10.
  const LayoutRect bounds{10, 0, 110, 50};
  const LayoutRect current{0, 0, 0, 0};
  // SizeX member from 60 to 110: left 10 + round(50*131/100 = 65.5) = 76,
  // right 10 + 131 = 141.
  EXPECT_EQ(PlaceInGroup(kSizeX, {60, 5, 110, 15}, current, bounds, 31, 10),
            (LayoutRect{76, 0, 141, 0}));
  // MoveX keeps its width.
  EXPECT_EQ(PlaceInGroup(kMoveX, {60, 5, 80, 15}, current, bounds, 31, 10),
            (LayoutRect{76, 0, 96, 0}));
  // SizeY member 25..50: top round(25*60/50)=30, bottom 60.
  EXPECT_EQ(PlaceInGroup(kSizeY, {10, 25, 20, 50}, current, bounds, 0, 10),
            (LayoutRect{0, 30, 0, 60}));
  // MoveY keeps its height.
  EXPECT_EQ(PlaceInGroup(kMoveY, {10, 25, 20, 35}, current, bounds, 0, 10),
            (LayoutRect{0, 30, 0, 40}));
  // Unchanged size puts every edge back.
  EXPECT_EQ(PlaceInGroup(kSizeX | kSizeY, {33, 7, 71, 19}, current, bounds, 0, 0),
            (LayoutRect{33, 7, 71, 19}));
}

TEST(ResizeStateTest, BuildsGroupsFromTheTable) {
  const std::map<int, LayoutRect> rects = {
      {1, {0, 0, 10, 10}}, {2, {20, 0, 40, 10}}, {3, {50, 0, 60, 10}}, {4, {0, 50, 100, 90}}};
  const ResizeEntry table[] = {
      kResizeBeginGroup, {1, kSizeX},          {99, kSizeX},
      {2, kMoveX},       kResizeEndGroup,      {3, kMoveX | 0x80000},  // unknown bits are dropped
      kResizeBeginGroup, {4, kSizeX | kSizeY}, kResizeEndGroup,
      kResizeEndOfTable, {1, kMoveY}};  // nothing after the end entry
  ResizeState state;
  state.Reset(200, 100);
  state.AddTable(
      table, [&](int id) { return rects.count(id) != 0; }, [&](int id) { return rects.at(id); });

  const auto& entries = state.entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].id, 1);
  EXPECT_EQ(entries[0].flags, kSizeX | kBeginGroup);
  EXPECT_EQ(entries[0].group_count, 2);
  EXPECT_EQ(entries[1].flags, kMoveX);
  EXPECT_EQ(entries[2].flags, kMoveX);
  EXPECT_EQ(state.GroupStartOf(1), 0u);
  EXPECT_EQ(state.GroupStartOf(2), 2u);
  EXPECT_EQ(entries[3].flags, kSizeX | kSizeY | kBeginGroup);
  EXPECT_EQ(entries[3].group_count, 1);

  // Group {1, 2} spans 0..40: widening by 20 scales by 60/40.
  EXPECT_EQ(state.Place(0, rects.at(1), 220, 100), (LayoutRect{0, 0, 15, 10}));
  EXPECT_EQ(state.Place(1, rects.at(2), 220, 100), (LayoutRect{30, 0, 50, 10}));
  EXPECT_EQ(state.Place(2, rects.at(3), 220, 100), (LayoutRect{70, 0, 80, 10}));
  EXPECT_EQ(state.Place(3, rects.at(4), 220, 130), (LayoutRect{0, 50, 120, 120}));
}

TEST(ResizeStateTest, ClosesAFullGroupAndOpensANewOne) {
  std::vector<ResizeEntry> table{kResizeBeginGroup};
  for (int id = 1; id <= kMaxGroupEntries + 2; ++id) table.push_back({id, kSizeX});
  table.push_back(kResizeEndGroup);
  ResizeState state;
  state.Reset(10, 10);
  state.AddTable(
      table, [](int) { return true; }, [](int) { return LayoutRect{}; });
  ASSERT_EQ(state.entries().size(), static_cast<size_t>(kMaxGroupEntries + 2));
  EXPECT_EQ(state.entries()[0].group_count, kMaxGroupEntries);
  EXPECT_EQ(state.entries()[kMaxGroupEntries].group_count, 2);
  EXPECT_TRUE(state.entries()[kMaxGroupEntries].flags & kBeginGroup);
}

// The synthetic dialog, shown, with resizing set up.
class DialogResizeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog_.EnableResizing(SampleResizeTable());
    initial_size_ = dialog_.size();
    for (int id : kIds) initial_[id] = dialog_.Control(id)->geometry();
    grip_initial_ = dialog_.resizer()->grip()->geometry();
    dialog_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog_));
  }

  QRect Now(int id) const { return dialog_.Control(id)->geometry(); }

  static constexpr int kIds[] = {
      testing::kNameEdit, testing::kNumberEdit, testing::kOptionBox,    testing::kGoButton,
      testing::kPane,     testing::kFrame,      testing::kBrowseButton, testing::kHiddenButton,
      testing::kCaption,  testing::kOtherButton};
  TemplateDialog dialog_{SampleDialogTemplate()};
  QSize initial_size_;
  std::map<int, QRect> initial_;
  QRect grip_initial_;
};

TEST_F(DialogResizeTest, WideningMovesAndStretchesByExactAmounts) {
  const int n = 37;
  dialog_.resize(initial_size_.width() + n, initial_size_.height());
  ASSERT_EQ(dialog_.width(), initial_size_.width() + n);

  for (int id : {testing::kGoButton, testing::kOtherButton, testing::kHiddenButton}) {
    EXPECT_EQ(Now(id), initial_[id].translated(n, 0)) << id;
  }
  EXPECT_EQ(Now(testing::kPane), initial_[testing::kPane].adjusted(0, 0, n, 0));
  EXPECT_EQ(grip_initial_.translated(n, 0), dialog_.resizer()->grip()->geometry());
  // Controls outside the table stay.
  for (int id : {testing::kNumberEdit, testing::kOptionBox, testing::kCaption}) {
    EXPECT_EQ(Now(id), initial_[id]) << id;
  }
  // The frame is the group's widest member and starts at its left edge, so
  // it keeps its left edge and grows by n.
  EXPECT_EQ(Now(testing::kFrame), initial_[testing::kFrame].adjusted(0, 0, n, 0));
}

TEST_F(DialogResizeTest, GroupMembersScaleInProportion) {
  const int n = 91;
  dialog_.resize(initial_size_.width() + n, initial_size_.height() + 13);
  const LayoutRect frame = LayoutRectFrom(initial_[testing::kFrame]);
  const LayoutRect name = LayoutRectFrom(initial_[testing::kNameEdit]);
  const LayoutRect browse = LayoutRectFrom(initial_[testing::kBrowseButton]);
  const int left = std::min({frame.left, name.left, browse.left});
  const int right = std::max({frame.right, name.right, browse.right});
  const int w = right - left;

  const LayoutRect name_now = LayoutRectFrom(Now(testing::kNameEdit));
  EXPECT_EQ(name_now.left, left + MulDiv(name.left - left, w + n, w));
  EXPECT_EQ(name_now.right, left + MulDiv(name.right - left, w + n, w));
  EXPECT_EQ(name_now.top, name.top);
  const LayoutRect browse_now = LayoutRectFrom(Now(testing::kBrowseButton));
  EXPECT_EQ(browse_now.left, left + MulDiv(browse.left - left, w + n, w));
  EXPECT_EQ(browse_now.right - browse_now.left, browse.right - browse.left);
  // Taller: only the pane lengthens and the grip moves down.
  EXPECT_EQ(Now(testing::kPane), initial_[testing::kPane].adjusted(0, 0, n, 13));
  EXPECT_EQ(Now(testing::kGoButton), initial_[testing::kGoButton].translated(n, 0));
  EXPECT_EQ(dialog_.resizer()->grip()->geometry(), grip_initial_.translated(n, 13));
}

TEST_F(DialogResizeTest, BackToTheFirstSizeRestoresEveryRectangle) {
  for (QSize step : {QSize(333, 7), QSize(1, 1), QSize(57, 211)}) {
    dialog_.resize(initial_size_ + step);
  }
  dialog_.resize(initial_size_);
  for (int id : kIds) EXPECT_EQ(Now(id), initial_[id]) << id;
  EXPECT_EQ(dialog_.resizer()->grip()->geometry(), grip_initial_);
}

TEST_F(DialogResizeTest, CannotShrinkBelowTheFirstSize) {
  EXPECT_EQ(dialog_.minimumSize(), initial_size_);
  dialog_.resize(initial_size_.width() - 40, initial_size_.height() - 30);
  EXPECT_EQ(dialog_.size(), initial_size_);
  dialog_.resize(initial_size_.width() + 400, initial_size_.height() + 300);
  EXPECT_EQ(dialog_.size(), initial_size_ + QSize(400, 300));
}

TEST_F(DialogResizeTest, MaximiseHidesTheGripAndRestoreShowsIt) {
  QSizeGrip* grip = dialog_.resizer()->grip();
  ASSERT_TRUE(grip->isVisible());
  dialog_.showMaximized();
  EXPECT_TRUE(grip->isHidden());
  dialog_.showNormal();
  EXPECT_FALSE(grip->isHidden());

  // The same through the layout step itself.
  const int w = dialog_.client()->width();
  const int h = dialog_.client()->height();
  dialog_.resizer()->OnSize(SizeType::kMaximized, w, h);
  EXPECT_TRUE(grip->isHidden());
  dialog_.resizer()->OnSize(SizeType::kRestored, w, h);
  EXPECT_FALSE(grip->isHidden());

  // Minimised leaves the layout and the grip alone.
  dialog_.resizer()->OnSize(SizeType::kMinimized, 1, 1);
  EXPECT_FALSE(grip->isHidden());
  for (int id : kIds) EXPECT_EQ(Now(id), initial_[id]) << id;
}

}  // namespace
}  // namespace portwick

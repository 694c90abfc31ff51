#include "test_dialogs.h"

namespace portwick::testing {

namespace {

constexpr MenuItemTemplate kFileItems[] = {
    {"&Go", kMenuGo},
    kMenuSeparator,
    {"&Quit", kMenuQuit},
};
constexpr MenuTemplate kMenus[] = {{"&File", kFileItems}};

constexpr ControlTemplate kControls[] = {
    {ControlKind::kLabel, kNoControlId, "&Name:", 0, 10, 12, 40, 8},
    {ControlKind::kEdit, kNameEdit, "", kStyleTabStop, 60, 10, 100, 12},
    {ControlKind::kPushButton, kBrowseButton, "Browse", kStyleTabStop, 170, 10, 40, 14},
    {ControlKind::kLabel, kNoControlId, "Number:", 0, 10, 32, 40, 8},
    {ControlKind::kEdit, kNumberEdit, "", kStyleTabStop, 60, 30, 50, 12},
    {ControlKind::kCheckBox, kOptionBox, "Option", kStyleTabStop, 10, 50, 60, 10},
    {ControlKind::kLabel, kCaption, "Caption", 0, 10, 66, 60, 8},
    {ControlKind::kOutputPane, kPane, "", kStyleTabStop, 7, 80, 220, 60},
    {ControlKind::kPushButton, kGoButton, "Go", kStyleTabStop | kStyleDefaultButton, 235, 7, 50,
     14},
    {ControlKind::kPushButton, kOtherButton, "Other", kStyleTabStop, 235, 25, 50, 14},
    {ControlKind::kPushButton, kHiddenButton, "Hidden", kStyleHidden, 235, 43, 50, 14},
    {ControlKind::kGroupBox, kFrame, "Frame", 0, 5, 2, 215, 30},
};

constexpr DialogTemplate kSample{
    .caption = "Sample",
    .width = 290,
    .height = 145,
    .controls = kControls,
    .menus = kMenus,
};

constexpr ResizeEntry kResize[] = {
    kResizeBeginGroup, {kFrame, kSizeX},         {kNameEdit, kSizeX},    {kBrowseButton, kMoveX},
    kResizeEndGroup,   {kGoButton, kMoveX},      {kOtherButton, kMoveX}, {kHiddenButton, kMoveX},
    kResizeBeginGroup, {kPane, kSizeX | kSizeY}, kResizeEndGroup,        kResizeEndOfTable,
};

}  // namespace

const DialogTemplate& SampleDialogTemplate() { return kSample; }

std::span<const ResizeEntry> SampleResizeTable() { return kResize; }

}  // namespace portwick::testing

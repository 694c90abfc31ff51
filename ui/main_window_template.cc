#include "ui/main_window_template.h"

#include "ui/framework/dialog_template.h"

namespace portwick {

namespace {

using K = ControlKind;
constexpr uint32_t kField = kStyleTabStop;
constexpr uint32_t kButton = kStyleTabStop;
constexpr int kNone = kNoControlId;
// Named for the script kind the program writes on this system.
#if defined(_WIN32)
constexpr char kSaveAsText[] = "Save &As *.cmd";
#else
constexpr char kSaveAsText[] = "Save &As *.sh";
#endif

// clang-format off
constexpr ControlTemplate kControls[] = {
    {K::kLabel, kNone, "&Local Port:", kStyleNone, 21, 23, 42, 8},
    {K::kEdit, kLocalPortField, nullptr, kField, 75, 21, 51, 12},
    {K::kLabel, kNone, "Local Host:", kStyleNone, 139, 23, 48, 8},
    {K::kEdit, kLocalHostField, nullptr, kField, 195, 20, 215, 12},
    {K::kLabel, kNone, "&Remote Port:", kStyleNone, 21, 44, 42, 8},
    {K::kEdit, kRemotePortField, nullptr, kField, 75, 42, 51, 12},
    // Hos&t, not &Host: Alt+H is the Help menu's, and under Win32 a
    // label's mnemonic would win over it.
    {K::kLabel, kNone, "Remote Hos&t:", kStyleNone, 139, 44, 48, 8},
    {K::kEdit, kRemoteHostField, nullptr, kField, 195, 42, 215, 12},
    {K::kCheckBox, kWriteToFileBox, "Write to File", kField, 21, 84, 53, 10},
    {K::kCheckBox, kShowInOutputBox, "Show in Output", kField, 21, 99, 65, 10},
    {K::kLabel, kNone, "File &Name:", kStyleNone, 139, 84, 48, 8},
    {K::kEdit, kFileNameField, nullptr, kField, 195, 84, 163, 12},
    {K::kPushButton, kBrowseButton, "&Browse", kButton, 361, 83, 50, 14},
    {K::kLabel, kNone, "&Output:", kStyleNone, 7, 129, 84, 8},
    {K::kOutputPane, kOutputPane, nullptr, kField, 7, 143, 494, 147},
    {K::kPushButton, kCloseButton, "Close", kButton, 451, 7, 50, 14},
    {K::kPushButton, kAboutCommand, "About...", kButton, 451, 23, 50, 14},
    {K::kPushButton, kStartButton, "Start", kButton | kStyleDefaultButton, 451, 67, 50, 14},
    {K::kPushButton, kStopButton, "Stop", kButton, 451, 83, 50, 14},
    {K::kGroupBox, kConnectionInfoGroup, "Connection Info", kStyleNone, 7, 7, 424, 57},
    {K::kGroupBox, kShowInfoGroup, "Show Info", kStyleNone, 7, 67, 424, 59},
    {K::kCheckBox, kLogSynchronouslyBox, "Log Synchronously", kField, 21, 112, 76, 10},
    {K::kPushButton, kSelectAllButton, "Select &All", kButton | kStyleHidden, 451, 106, 50, 14},
    {K::kPushButton, kClearButton, "&Clear", kButton, 451, 122, 50, 14},
};

constexpr MenuItemTemplate kActionItems[] = {
    {"Start", kStartCommand},
    {"Stop", kStopCommand},
    {"&Conditions...", kConditionsCommand},
    kMenuSeparator,
    {kSaveAsText, kSaveAsCommand},
    kMenuSeparator,
    {"E&xit", kExitCommand},
};

constexpr MenuItemTemplate kViewItems[] = {
    {"&Sessions", kSessionsCommand, "Ctrl+L"},
};

constexpr MenuItemTemplate kHelpItems[] = {
    {"&Visit Home Page", kVisitHomePageCommand},
    kMenuSeparator,
    {"&About... ", kAboutCommand},
};

constexpr MenuTemplate kMenus[] = {
    {"Action", kActionItems},
    {"View", kViewItems},
    {"Help", kHelpItems},
};

constexpr ResizeEntry kResizeTable[] = {
    kResizeBeginGroup,
    {kConnectionInfoGroup, kSizeX},
    {kLocalHostField, kSizeX},
    {kRemoteHostField, kSizeX},
    kResizeEndGroup,
    kResizeBeginGroup,
    {kShowInfoGroup, kSizeX},
    {kFileNameField, kSizeX},
    {kBrowseButton, kMoveX},
    kResizeEndGroup,
    {kCloseButton, kMoveX},
    {kAboutCommand, kMoveX},
    {kStartButton, kMoveX},
    {kStopButton, kMoveX},
    {kSelectAllButton, kMoveX},
    {kClearButton, kMoveX},
    kResizeBeginGroup,
    {kOutputPane, kSizeX | kSizeY},
    kResizeEndGroup,
    kResizeEndOfTable,
};

// clang-format on

}  // namespace

const DialogTemplate& MainWindowTemplate() {
  static const DialogTemplate kTemplate{
      .caption = kApplicationTitle,
      .width = 508,
      .height = 299,
      .font_family = "MS Sans Serif",
      .font_point_size = 8,
      .controls = kControls,
      .menus = kMenus,
  };
  return kTemplate;
}

std::span<const ResizeEntry> MainWindowResizeTable() { return kResizeTable; }

}  // namespace portwick

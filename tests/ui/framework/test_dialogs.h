#ifndef PORTWICK_TESTS_UI_FRAMEWORK_TEST_DIALOGS_H_
#define PORTWICK_TESTS_UI_FRAMEWORK_TEST_DIALOGS_H_

#include <span>

#include "ui/framework/dialog_template.h"
#include "ui/framework/resize_table.h"

namespace portwick::testing {

// Ids of the synthetic dialog used by the framework tests.
inline constexpr int kNameEdit = 100;
inline constexpr int kNumberEdit = 101;
inline constexpr int kOptionBox = 102;
inline constexpr int kGoButton = 103;  // default button
inline constexpr int kPane = 104;
inline constexpr int kFrame = 105;
inline constexpr int kBrowseButton = 106;
inline constexpr int kHiddenButton = 107;
inline constexpr int kCaption = 108;  // label with an id
inline constexpr int kOtherButton = 109;
inline constexpr int kMenuGo = 3001;
inline constexpr int kMenuQuit = 3002;

// A small dialog with a menu bar: a framed group (frame, name field, browse
// button), a number field, a check box, a right-hand button column and an
// output pane.
const DialogTemplate& SampleDialogTemplate();

// Its resize table: {frame SizeX, name SizeX, browse MoveX} as a group, the
// buttons MoveX, the pane SizeX|SizeY as a group of one.
std::span<const ResizeEntry> SampleResizeTable();

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_UI_FRAMEWORK_TEST_DIALOGS_H_

#ifndef PORTWICK_TESTS_UI_DIALOG_READS_H_
#define PORTWICK_TESTS_UI_DIALOG_READS_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ui/framework/dialog.h"

namespace portwick {

// What a window's controls hold, read through the neutral Dialog as the
// window itself reads them. A control the dialog lacks fails the test.
inline std::string TextOf(const Dialog& dialog, int control_id) {
  std::string text;
  EXPECT_TRUE(dialog.GetControlText(control_id, &text)) << "control " << control_id;
  return text;
}

inline bool IsChecked(const Dialog& dialog, int control_id) {
  int32_t state = -1;
  EXPECT_TRUE(dialog.GetCheck(control_id, &state)) << "control " << control_id;
  return state == 1;
}

}  // namespace portwick

#endif  // PORTWICK_TESTS_UI_DIALOG_READS_H_

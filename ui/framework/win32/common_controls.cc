#include "ui/framework/win32/common_controls.h"

// <windows.h> comes first.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

namespace portwick {

bool EnsureCommonControls() {
  static const bool loaded = [] {
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_BAR_CLASSES | ICC_COOL_CLASSES |
                                                      ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    return LoadLibraryW(L"Msftedit.dll") != nullptr;
  }();
  return loaded;
}

}  // namespace portwick

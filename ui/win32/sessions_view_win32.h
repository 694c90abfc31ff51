#ifndef PORTWICK_UI_WIN32_SESSIONS_VIEW_WIN32_H_
#define PORTWICK_UI_WIN32_SESSIONS_VIEW_WIN32_H_

#include "ui/sessions_view.h"

namespace portwick {

class Win32SessionsWindow;

// The Win32 window behind `view` (made by MakeSessionsView), or null for
// null; owned by `view`. GUI thread only.
Win32SessionsWindow* Win32SessionsWindowOf(SessionsView* view);

}  // namespace portwick

#endif  // PORTWICK_UI_WIN32_SESSIONS_VIEW_WIN32_H_

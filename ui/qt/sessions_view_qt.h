#ifndef PORTWICK_UI_QT_SESSIONS_VIEW_QT_H_
#define PORTWICK_UI_QT_SESSIONS_VIEW_QT_H_

#include "ui/sessions_view.h"

namespace portwick {

class SessionsWindow;

// The Qt window behind `view` (made by MakeSessionsView), or null for null;
// owned by `view`. GUI thread only.
SessionsWindow* QtSessionsWindowOf(SessionsView* view);

}  // namespace portwick

#endif  // PORTWICK_UI_QT_SESSIONS_VIEW_QT_H_

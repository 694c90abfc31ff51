#ifndef PORTWICK_UI_SESSIONS_VIEW_H_
#define PORTWICK_UI_SESSIONS_VIEW_H_

#include <memory>

namespace portwick {

class CaptureStore;
class FileChoosers;

// The Sessions window as the main window opens it, whatever draws it: it
// shows the sessions of one capture store and can be brought up or hidden.
// Owned by the main window; GUI thread only.
class SessionsView {
 public:
  virtual ~SessionsView() = default;

  // Shows the sessions of `store` from now on (null: none).
  virtual void SetStore(std::shared_ptr<const CaptureStore> store) = 0;
  // Shows the window with the program's icon, raised and active.
  virtual void Present() = 0;
  virtual void Hide() = 0;
};

// A new, hidden Sessions window; `choosers` is borrowed and must outlive it.
// Defined by the toolkit's Sessions window (ui/qt/sessions_view_qt.cc).
std::unique_ptr<SessionsView> MakeSessionsView(FileChoosers* choosers);

}  // namespace portwick

#endif  // PORTWICK_UI_SESSIONS_VIEW_H_

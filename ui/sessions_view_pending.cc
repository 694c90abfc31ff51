// TEMPORARY, Windows only until ui/win32/ brings the native Sessions window:
// View > Sessions says that the window is not in this build yet. Not a
// Sessions window: it shows no sessions.
#include "ui/framework/desktop.h"
#include "ui/sessions_view.h"

namespace portwick {

namespace {

class PendingSessionsView : public SessionsView {
 public:
  void SetStore(std::shared_ptr<const CaptureStore> /*store*/) override {}
  void Present() override {
    ShowErrorBox(ActiveWindow(),
                 "The Sessions window is not in this Windows build yet.\n"
                 "The sessions are captured; the Linux build shows them.");
  }
  void Hide() override {}
};

}  // namespace

std::unique_ptr<SessionsView> MakeSessionsView(FileChoosers* /*choosers*/) {
  return std::make_unique<PendingSessionsView>();
}

}  // namespace portwick

// The Sessions window (Win32) behind the main window's SessionsView.
#include "ui/win32/sessions_view_win32.h"

#include <utility>

#include "ui/win32/sessions_window.h"

namespace portwick {

namespace {

class Win32SessionsView : public SessionsView {
 public:
  explicit Win32SessionsView(FileChoosers* choosers) : window_(choosers) {}

  void SetStore(std::shared_ptr<const CaptureStore> store) override {
    window_.SetStore(std::move(store));
  }
  void Present() override { window_.Present(); }
  void Hide() override { window_.Hide(); }

  Win32SessionsWindow* window() { return &window_; }

 private:
  Win32SessionsWindow window_;
};

}  // namespace

std::unique_ptr<SessionsView> MakeSessionsView(FileChoosers* choosers) {
  return std::make_unique<Win32SessionsView>(choosers);
}

Win32SessionsWindow* Win32SessionsWindowOf(SessionsView* view) {
  return view != nullptr ? static_cast<Win32SessionsView*>(view)->window() : nullptr;
}

}  // namespace portwick

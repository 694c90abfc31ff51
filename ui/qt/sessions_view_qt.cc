// The Sessions window (a QWidget) behind the main window's SessionsView.
#include "ui/qt/sessions_view_qt.h"

#include <utility>

#include "resources/app_icon.h"
#include "ui/qt/sessions_window.h"

namespace portwick {

namespace {

class QtSessionsView : public SessionsView {
 public:
  explicit QtSessionsView(FileChoosers* choosers) : window_(choosers) {
    window_.setWindowIcon(ApplicationIcon());
  }

  void SetStore(std::shared_ptr<const CaptureStore> store) override {
    window_.SetStore(std::move(store));
  }

  void Present() override {
    window_.show();
    window_.raise();
    window_.activateWindow();
  }

  void Hide() override { window_.hide(); }

  SessionsWindow* window() { return &window_; }

 private:
  SessionsWindow window_;
};

}  // namespace

std::unique_ptr<SessionsView> MakeSessionsView(FileChoosers* choosers) {
  return std::make_unique<QtSessionsView>(choosers);
}

SessionsWindow* QtSessionsWindowOf(SessionsView* view) {
  return view != nullptr ? static_cast<QtSessionsView*>(view)->window() : nullptr;
}

}  // namespace portwick

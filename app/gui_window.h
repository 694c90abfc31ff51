#ifndef PORTWICK_APP_GUI_WINDOW_H_
#define PORTWICK_APP_GUI_WINDOW_H_

#include <memory>
#include <utility>

namespace portwick {

// The main window as start-up drives it: construct, Create() (the window's
// own initialisation runs inside and may register it with the thread's
// message loop), Show(), run the loop, destroy. GUI thread only.
class GuiWindow {
 public:
  virtual ~GuiWindow() = default;
  // False when the window could not be made.
  virtual bool Create() = 0;
  virtual void Show() = 0;
};

// Adapts any class with `bool Create()` and `void Show()` (the main window)
// to GuiWindow; owns the object.
template <typename Window>
class GuiWindowOf : public GuiWindow {
 public:
  explicit GuiWindowOf(std::unique_ptr<Window> window) : window_(std::move(window)) {}
  bool Create() override { return window_->Create(); }
  void Show() override { window_->Show(); }
  Window* get() const { return window_.get(); }

 private:
  std::unique_ptr<Window> window_;
};

template <typename Window, typename... Args>
std::unique_ptr<GuiWindow> MakeGuiWindow(Args&&... args) {
  return std::make_unique<GuiWindowOf<Window>>(
      std::make_unique<Window>(std::forward<Args>(args)...));
}

}  // namespace portwick

#endif  // PORTWICK_APP_GUI_WINDOW_H_

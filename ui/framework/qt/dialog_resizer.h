#ifndef PORTWICK_UI_FRAMEWORK_QT_DIALOG_RESIZER_H_
#define PORTWICK_UI_FRAMEWORK_QT_DIALOG_RESIZER_H_

#include <QRect>
#include <QSize>
#include <functional>
#include <span>

#include "ui/framework/resize_table.h"

class QSizeGrip;
class QWidget;

namespace portwick {

// A widget geometry as a layout rectangle, and back.
LayoutRect LayoutRectFrom(const QRect& r);
QRect ToQRect(const LayoutRect& r);

// The size grip's control id.
inline constexpr int kSizeGripId = 59393;

// How a window's size changed, as its layout sees it.
enum class SizeType { kRestored, kMinimized, kMaximized };

// Makes the controls of one window follow its client area as a ResizeTable
// says. Set up once, with the controls at their initial places; after that
// every OnSize() computes all rectangles from that initial state.
//
// TemplateDialog::EnableResizing() creates one and feeds it; it can also be
// driven directly. GUI thread only. `window`, `client` and every control must
// outlive this object (they normally share an owner).
class DialogResizer {
 public:
  using FindControl = std::function<QWidget*(int id)>;

  // Set-up: records the client size of `client` and each control's geometry
  // (client coordinates), creates a size grip in the bottom-right corner of
  // `client` when `with_grip`, and makes the window's current size its
  // minimum size. Ids that `find_control` does not know are skipped.
  DialogResizer(QWidget* window, QWidget* client, std::span<const ResizeEntry> table,
                FindControl find_control, bool with_grip = true);
  DialogResizer(const DialogResizer&) = delete;
  DialogResizer& operator=(const DialogResizer&) = delete;
  ~DialogResizer();

  // Layout after a size change of the client area to width x height:
  // maximised hides the grip, restored shows it, minimised changes nothing
  // else; otherwise every entry is placed from the recorded state.
  void OnSize(SizeType type, int width, int height);

  const ResizeState& state() const { return state_; }
  QSizeGrip* grip() const { return grip_; }
  QSize minimum_size() const { return minimum_size_; }

 private:
  QWidget* WidgetOf(const LayoutEntry& entry) const;

  QWidget* const window_;
  QWidget* const client_;
  FindControl find_control_;
  ResizeState state_;
  QSizeGrip* grip_ = nullptr;  // child of client_, owned by it
  QSize minimum_size_;
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_QT_DIALOG_RESIZER_H_

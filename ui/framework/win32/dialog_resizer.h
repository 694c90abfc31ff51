#ifndef PORTWICK_UI_FRAMEWORK_WIN32_DIALOG_RESIZER_H_
#define PORTWICK_UI_FRAMEWORK_WIN32_DIALOG_RESIZER_H_

#include <windows.h>

#include <span>

#include "ui/framework/resize_table.h"

namespace portwick {

// The size grip's control id.
inline constexpr int kSizeGripId = 59393;

// A child window's rectangle in its parent's client coordinates.
LayoutRect ChildRect(HWND child);

// Makes the controls of one dialog follow its client area as a ResizeTable
// says. Set up once, with the controls at their initial places; after that
// every OnSize() places all of them from that initial state, in one
// DeferWindowPos batch.
//
// The layout area is the client area less `reserved_bottom` pixels at the
// bottom (a status bar's). Owned by its dialog; GUI thread only; `window`
// must outlive it.
class Win32DialogResizer {
 public:
  // Set-up: gives the window WS_CLIPCHILDREN, creates the size grip (a
  // SCROLLBAR with SBS_SIZEGRIP, id kSizeGripId) in the bottom-right corner
  // of the layout area when `with_grip`, records the layout area's size and
  // each control's rectangle, and makes the window's current size its
  // minimum tracking size. Ids the dialog lacks are skipped.
  Win32DialogResizer(HWND window, std::span<const ResizeEntry> table, bool with_grip,
                     int reserved_bottom);
  Win32DialogResizer(const Win32DialogResizer&) = delete;
  Win32DialogResizer& operator=(const Win32DialogResizer&) = delete;

  // WM_SIZE: `size_type` SIZE_RESTORED, SIZE_MINIMIZED, SIZE_MAXIMIZED...
  // with the new client size. Maximised hides the grip, restored shows it,
  // minimised changes nothing else.
  void OnSize(WPARAM size_type, int client_width, int client_height);
  // WM_GETMINMAXINFO: the size at set-up is the smallest.
  void OnGetMinMaxInfo(MINMAXINFO* info) const;

  const ResizeState& state() const { return state_; }
  HWND grip() const { return grip_; }
  SIZE minimum_size() const { return minimum_size_; }

 private:
  HWND window_;
  int reserved_bottom_;
  ResizeState state_;
  HWND grip_ = nullptr;  // a child of window_, destroyed with it
  SIZE minimum_size_{-1, -1};
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_WIN32_DIALOG_RESIZER_H_

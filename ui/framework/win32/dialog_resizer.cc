#include "ui/framework/win32/dialog_resizer.h"

namespace portwick {

namespace {

HWND ControlOf(HWND window, const LayoutEntry& entry, HWND grip) {
  if (entry.flags & kGripMark) return grip;
  return GetDlgItem(window, entry.id);
}

}  // namespace

LayoutRect ChildRect(HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return LayoutRect{r.left, r.top, r.right, r.bottom};
}

Win32DialogResizer::Win32DialogResizer(HWND window, std::span<const ResizeEntry> table,
                                       bool with_grip, int reserved_bottom)
    : window_(window), reserved_bottom_(reserved_bottom) {
  // Children are not painted over while the dialog redraws.
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  if (!(style & WS_CLIPCHILDREN)) SetWindowLongPtrW(window, GWL_STYLE, style | WS_CLIPCHILDREN);

  RECT client{};
  GetClientRect(window, &client);
  const int height = client.bottom - reserved_bottom_;
  state_.Reset(client.right, height);

  if (with_grip) {
    grip_ = CreateWindowExW(0, L"SCROLLBAR", nullptr,
                            WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SBS_SIZEBOX | SBS_SIZEGRIP |
                                SBS_SIZEBOXBOTTOMRIGHTALIGN,
                            0, 0, client.right, height, window,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSizeGripId)),
                            reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)),
                            nullptr);
    if (grip_ != nullptr) {
      SetWindowPos(grip_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      state_.AddEntry(kSizeGripId, kMoveX | kMoveY | kRepaint | kGripMark, ChildRect(grip_));
    }
  }

  RECT outer{};
  GetWindowRect(window, &outer);
  minimum_size_ = SIZE{outer.right - outer.left, outer.bottom - outer.top};

  state_.AddTable(
      table, [window](int id) { return GetDlgItem(window, id) != nullptr; },
      [window](int id) { return ChildRect(GetDlgItem(window, id)); });
}

void Win32DialogResizer::OnSize(WPARAM size_type, int client_width, int client_height) {
  if (grip_ != nullptr) {
    if (size_type == SIZE_MAXIMIZED) ShowWindow(grip_, SW_HIDE);
    if (size_type == SIZE_RESTORED) ShowWindow(grip_, SW_SHOW);
  }
  if (size_type == SIZE_MINIMIZED) return;
  const int height = client_height - reserved_bottom_;
  const bool visible = IsWindowVisible(window_) != 0;
  if (visible) SendMessageW(window_, WM_SETREDRAW, FALSE, 0);

  const auto& entries = state_.entries();
  HDWP batch = BeginDeferWindowPos(static_cast<int>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const LayoutEntry& entry = entries[i];
    if (!(entry.flags & kPlacementFlags)) continue;
    HWND control = ControlOf(window_, entry, grip_);
    if (control == nullptr) continue;
    const LayoutRect r = state_.Place(i, ChildRect(control), client_width, height);
    if (entry.flags & kRepaint) InvalidateRect(control, nullptr, TRUE);
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (batch != nullptr) {
      batch = DeferWindowPos(batch, control, nullptr, r.left, r.top, r.right - r.left,
                             r.bottom - r.top, flags);
    } else {
      SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, flags);
    }
  }
  if (batch != nullptr) EndDeferWindowPos(batch);

  if (visible) {
    SendMessageW(window_, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(window_, nullptr, nullptr,
                 RDW_ERASE | RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  }
}

void Win32DialogResizer::OnGetMinMaxInfo(MINMAXINFO* info) const {
  if (minimum_size_.cx == -1 || minimum_size_.cy == -1) return;
  info->ptMinTrackSize.x = minimum_size_.cx;
  info->ptMinTrackSize.y = minimum_size_.cy;
}

}  // namespace portwick

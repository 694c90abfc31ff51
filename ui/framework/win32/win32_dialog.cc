// Win32Dialog: the window, its messages and commands, the modal run, the
// frame (icon, centring, resizing).
#include "ui/framework/win32/win32_dialog.h"

#include <commctrl.h>

#include <utility>
#include <vector>

#include "base/windows/win32_text.h"
#include "ui/framework/win32/common_controls.h"
#include "ui/framework/win32/dialog_keyboard.h"
#include "ui/framework/win32/dialog_resizer.h"
#include "ui/framework/win32/dialog_template_builder.h"
#include "ui/framework/win32/hyper_link_static.h"
#include "ui/framework/win32/menu_bar.h"
#include "ui/framework/win32/output_pane.h"

namespace portwick {

namespace {

constexpr UINT_PTR kPaneKeysSubclass = 0x4B59;

DWORD FrameStyle(DialogFrame frame) {
  if (frame == DialogFrame::kOverlapped) return WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  return WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
}

// An output pane keeps Enter (a line break) but gives Tab and Esc to the
// dialog: Tab moves on, Esc is the dialog's cancel.
LRESULT CALLBACK PaneKeysProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                              UINT_PTR /*id*/, DWORD_PTR /*data*/) {
  if (message == WM_GETDLGCODE) {
    LRESULT code = DefSubclassProc(window, message, wparam, lparam);
    const auto* msg = reinterpret_cast<const MSG*>(lparam);
    if (msg == nullptr || msg->wParam == VK_TAB || msg->wParam == VK_ESCAPE) {
      code &= ~(DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_WANTMESSAGE);
    }
    return code;
  }
  return DefSubclassProc(window, message, wparam, lparam);
}

// x = (left + right) / 2 - width / 2, kept inside [low, high).
int CenteredOrigin(int low, int high, int extent) {
  int origin = (low + high) / 2 - extent / 2;
  if (origin < low) {
    origin = low;
  } else if (origin + extent > high) {
    origin = high - extent;
  }
  return origin;
}

}  // namespace

Win32Dialog::Win32Dialog(const DialogTemplate& dialog_template, DialogFrame frame, HWND owner)
    : frame_(frame) {
  for (const ControlTemplate& control : dialog_template.controls) {
    if (control.id != kNoControlId) kinds_.emplace(control.id, control.kind);
  }
  EnsureCommonControls();
  const std::vector<uint8_t> bytes = BuildDialogTemplate(dialog_template, FrameStyle(frame), 0);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  hwnd_ = CreateDialogIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()),
                                     owner, DialogProc, reinterpret_cast<LPARAM>(this));
  if (hwnd_ == nullptr) return;

  RECT client{};
  GetClientRect(hwnd_, &client);
  if (!dialog_template.menus.empty()) {
    menu_bar_ = std::make_unique<MenuBar>(dialog_template.menus);
    menu_bar_->AttachTo(hwnd_);
    GrowClientTo(client.right, client.bottom);
  }
  for (const ControlTemplate& control : dialog_template.controls) {
    if (control.kind == ControlKind::kOutputPane) {
      SetWindowSubclass(Control(control.id), PaneKeysProc, kPaneKeysSubclass, 0);
    }
    if ((control.style & kStyleDefaultButton) && control.kind == ControlKind::kPushButton) {
      SendMessageW(hwnd_, DM_SETDEFID, static_cast<WPARAM>(control.id), 0);
    }
  }
  RECT outer{};
  GetWindowRect(hwnd_, &outer);
  fixed_size_ = SIZE{outer.right - outer.left, outer.bottom - outer.top};
  AddDialogWindow(hwnd_, menu_bar_ ? menu_bar_->accelerators() : nullptr);
}

Win32Dialog::~Win32Dialog() {
  if (hwnd_ != nullptr) {
    RemoveDialogWindow(hwnd_);
    // The controls' helpers first: they unhook themselves from live windows.
    panes_.clear();
    links_.clear();
    if (tooltip_ != nullptr) ::DestroyWindow(tooltip_);
    ::DestroyWindow(hwnd_);
  }
  menu_bar_.reset();
  if (big_icon_ != nullptr) DestroyIcon(big_icon_);
  if (small_icon_ != nullptr) DestroyIcon(small_icon_);
}

INT_PTR CALLBACK Win32Dialog::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    reinterpret_cast<Win32Dialog*>(lparam)->hwnd_ = window;
    return TRUE;  // the dialog manager focuses the first control that takes it
  }
  auto* self = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  return self->HandleMessage(message, wparam, lparam);
}

INT_PTR Win32Dialog::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      OnCommandMessage(wparam, lparam);
      return TRUE;
    case WM_CLOSE:
      // The close box is the cancel command; the handler decides.
      if (!window_destroyed_) RouteCommand(kCommandCancel);
      return TRUE;
    case WM_SIZE:
      if (status_bar_ != nullptr) SendMessageW(status_bar_, WM_SIZE, 0, 0);
      if (resizer_) resizer_->OnSize(wparam, LOWORD(lparam), HIWORD(lparam));
      return TRUE;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
      if (resizer_) {
        resizer_->OnGetMinMaxInfo(info);
      } else if (fixed_size_.cx > 0) {
        info->ptMinTrackSize = POINT{fixed_size_.cx, fixed_size_.cy};
        info->ptMaxTrackSize = info->ptMinTrackSize;
      }
      return TRUE;
    }
    case WM_TIMER: {
      auto it = timers_.find(static_cast<int>(wparam));
      if (it == timers_.end()) return FALSE;
      const std::function<void()> tick = it->second;  // it may kill its timer
      tick();
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void Win32Dialog::OnCommandMessage(WPARAM wparam, LPARAM lparam) {
  const int id = LOWORD(wparam);
  const int code = HIWORD(wparam);
  // Menu items (0) and accelerators (1) come without a control; controls
  // send BN_CLICKED (0) for a click. Every other notification is no command.
  if (lparam != 0) {
    if (code != BN_CLICKED) return;
    if (KindOf(id) == ControlKind::kCheckBox) {
      // A click leaves an indeterminate state written by the program.
      auto box = reinterpret_cast<HWND>(lparam);
      if ((GetWindowLongPtrW(box, GWL_STYLE) & BS_TYPEMASK) == BS_AUTO3STATE) {
        SendMessageW(box, BM_SETSTYLE, BS_AUTOCHECKBOX, TRUE);
      }
    }
  } else if (code != 0 && code != 1) {
    return;
  }
  RouteCommand(id);
}

void Win32Dialog::OnCommand(int command_id, CommandMap::Handler handler) {
  commands_.On(command_id, std::move(handler));
}

void Win32Dialog::SendCommand(int command_id) { RouteCommand(command_id); }

void Win32Dialog::RouteCommand(int command_id) {
  if (commands_.Dispatch(command_id)) return;  // `this` may be gone now
  if (command_id != kCommandOk && command_id != kCommandCancel) return;
  if (in_modal_) {
    modal_result_ = command_id;
  } else if (hwnd_ != nullptr) {
    ShowWindow(hwnd_, SW_HIDE);
  }
}

void Win32Dialog::GrowClientTo(int width, int height) {
  RECT client{};
  GetClientRect(hwnd_, &client);
  RECT outer{};
  GetWindowRect(hwnd_, &outer);
  SetWindowPos(hwnd_, nullptr, 0, 0, outer.right - outer.left + width - client.right,
               outer.bottom - outer.top + height - client.bottom,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  GetWindowRect(hwnd_, &outer);
  fixed_size_ = SIZE{outer.right - outer.left, outer.bottom - outer.top};
}

void Win32Dialog::Show() {
  if (hwnd_ == nullptr || window_destroyed_) return;
  // The first show of the process takes the state its starter asked for.
  ShowWindow(hwnd_, shown_once_ ? SW_SHOW : SW_SHOWDEFAULT);
  shown_once_ = true;
}

void Win32Dialog::SetTitle(const std::string& title) {
  if (hwnd_ != nullptr) SetWindowTextW(hwnd_, Utf16FromUtf8(title).c_str());
}

std::string Win32Dialog::Title() const {
  if (hwnd_ == nullptr) return {};
  const int length = GetWindowTextLengthW(hwnd_);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd_, text.data(), length + 1)));
  return Utf8FromUtf16(text);
}

void Win32Dialog::SetProgramIcon() {
  if (hwnd_ == nullptr) return;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  auto load = [instance](int cx, int cy) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kProgramIconResource),
                                         IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR));
  };
  if (big_icon_ == nullptr)
    big_icon_ = load(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
  if (small_icon_ == nullptr) {
    small_icon_ = load(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
  }
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
}

void Win32Dialog::CenterOnScreen() {
  if (hwnd_ == nullptr) return;
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT outer{};
  GetWindowRect(hwnd_, &outer);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  SetWindowPos(hwnd_, nullptr, CenteredOrigin(area.left, area.right, width),
               CenteredOrigin(area.top, area.bottom, height), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Dialog::CenterOver(NativeWindow owner) {
  auto over = static_cast<HWND>(owner);
  if (hwnd_ == nullptr) return;
  if (over == nullptr || !IsWindow(over)) {
    CenterOnScreen();
    return;
  }
  RECT frame{};
  GetWindowRect(over, &frame);
  RECT outer{};
  GetWindowRect(hwnd_, &outer);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  int x = (frame.left + frame.right) / 2 - width / 2;
  int y = (frame.top + frame.bottom) / 2 - height / 2;
  // Pulled back inside the owner's screen only where it would leave it.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  if (GetMonitorInfoW(MonitorFromWindow(over, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& area = monitor.rcWork;
    if (x < area.left || x + width > area.right) x = CenteredOrigin(area.left, area.right, width);
    if (y < area.top || y + height > area.bottom) {
      y = CenteredOrigin(area.top, area.bottom, height);
    }
  }
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Dialog::EnableResizing(std::span<const ResizeEntry> table, bool with_grip) {
  if (hwnd_ == nullptr || resizer_) return;
  resizer_ = std::make_unique<Win32DialogResizer>(hwnd_, table, with_grip, status_height_);
}

int Win32Dialog::RunModal() {
  if (hwnd_ == nullptr) return kCommandCancel;
  HWND owner = GetWindow(hwnd_, GW_OWNER);
  const bool disable_owner = owner != nullptr && IsWindowEnabled(owner);
  if (disable_owner) EnableWindow(owner, FALSE);
  modal_result_.reset();
  in_modal_ = true;
  ShowWindow(hwnd_, SW_SHOW);
  MSG msg{};
  while (!modal_result_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) continue;
    if (got == 0) {
      // A quit for the whole thread: pass it on to the loop outside.
      PostQuitMessage(static_cast<int>(msg.wParam));
      modal_result_ = kCommandCancel;
      break;
    }
    if (!TranslateDialogMessage(&msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  // The owner is enabled before the box hides, so that it is activated again.
  if (disable_owner) EnableWindow(owner, TRUE);
  ShowWindow(hwnd_, SW_HIDE);
  in_modal_ = false;
  return *modal_result_;
}

void Win32Dialog::DestroyWindow() {
  window_destroyed_ = true;
  if (hwnd_ != nullptr) ShowWindow(hwnd_, SW_HIDE);
}

Win32Dialog& Win32DialogOf(Dialog& dialog) { return static_cast<Win32Dialog&>(dialog); }

Win32Dialog* Win32DialogOf(Dialog* dialog) { return static_cast<Win32Dialog*>(dialog); }

std::unique_ptr<Dialog> CreateDialog(const DialogTemplate& dialog_template, DialogFrame frame,
                                     NativeWindow owner) {
  return std::make_unique<Win32Dialog>(dialog_template, frame, static_cast<HWND>(owner));
}

}  // namespace portwick

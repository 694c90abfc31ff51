// Win32Dialog's controls by id, the status line and timers.
// <windows.h> comes first.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <algorithm>
#include <utility>

#include "base/windows/win32_text.h"
#include "ui/framework/win32/hyper_link_static.h"
#include "ui/framework/win32/output_pane.h"
#include "ui/framework/win32/win32_dialog.h"

namespace portwick {

namespace {

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

// Line breaks as the neutral layer writes them: "\n" for CR LF and a lone CR.
std::string WithLineFeeds(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r') {
      out += L'\n';
      if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
    } else {
      out += text[i];
    }
  }
  return Utf8FromUtf16(out);
}

}  // namespace

std::optional<ControlKind> Win32Dialog::KindOf(int id) const {
  auto it = kinds_.find(id);
  if (it == kinds_.end()) return std::nullopt;
  return it->second;
}

HWND Win32Dialog::Control(int id) const {
  if (hwnd_ == nullptr || !KindOf(id)) return nullptr;
  return GetDlgItem(hwnd_, id);
}

HMENU Win32Dialog::menu() const { return hwnd_ != nullptr ? GetMenu(hwnd_) : nullptr; }

Win32HyperLink* Win32Dialog::Link(int id) const {
  auto it = links_.find(id);
  return it == links_.end() ? nullptr : it->second.get();
}

Win32OutputPane* Win32Dialog::Pane(int id) const {
  auto it = panes_.find(id);
  return it == panes_.end() ? nullptr : it->second.get();
}

bool Win32Dialog::HasControl(int id) const { return Control(id) != nullptr; }

bool Win32Dialog::GetControlText(int id, std::string* text) const {
  HWND control = Control(id);
  if (control == nullptr || KindOf(id) == ControlKind::kIcon) return false;
  *text = WithLineFeeds(WindowText(control));
  return true;
}

bool Win32Dialog::SetControlText(int id, const std::string& text) {
  HWND control = Control(id);
  if (control == nullptr || KindOf(id) == ControlKind::kIcon) return false;
  std::wstring wide = Utf16FromUtf8(text);
  if (KindOf(id) == ControlKind::kOutputPane) {
    // The control's own line break is CR.
    std::replace(wide.begin(), wide.end(), L'\n', L'\r');
  }
  const bool set = SetWindowTextW(control, wide.c_str()) != 0;
  if (Link(id) != nullptr) InvalidateRect(control, nullptr, TRUE);
  return set;
}

bool Win32Dialog::GetCheck(int id, int32_t* state) const {
  HWND box = Control(id);
  if (box == nullptr || KindOf(id) != ControlKind::kCheckBox) return false;
  switch (SendMessageW(box, BM_GETCHECK, 0, 0)) {
    case BST_CHECKED:
      *state = 1;
      break;
    case BST_INDETERMINATE:
      *state = 2;
      break;
    default:
      *state = 0;
      break;
  }
  return true;
}

bool Win32Dialog::SetCheck(int id, int32_t state) {
  HWND box = Control(id);
  if (box == nullptr || KindOf(id) != ControlKind::kCheckBox) return false;
  // Only an indeterminate state needs a three-state box; its next click
  // makes it a two-state box again.
  SendMessageW(box, BM_SETSTYLE, state == 2 ? BS_AUTO3STATE : BS_AUTOCHECKBOX, TRUE);
  SendMessageW(box, BM_SETCHECK,
               state == 2   ? BST_INDETERMINATE
               : state == 1 ? BST_CHECKED
                            : BST_UNCHECKED,
               0);
  return true;
}

bool Win32Dialog::EnableControl(int id, bool enabled) {
  HWND control = Control(id);
  if (control == nullptr) return false;
  EnableWindow(control, enabled ? TRUE : FALSE);
  return true;
}

bool Win32Dialog::IsControlEnabled(int id) const {
  HWND control = Control(id);
  return control != nullptr && IsWindowEnabled(control);
}

bool Win32Dialog::ShowControl(int id, bool shown) {
  HWND control = Control(id);
  if (control == nullptr) return false;
  ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
  return true;
}

bool Win32Dialog::FocusControl(int id) {
  HWND control = Control(id);
  if (control == nullptr) return false;
  remembered_focus_ = id;
  // As the dialog manager moves the focus: the default button follows.
  SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
  return true;
}

int Win32Dialog::FocusedControl() const {
  HWND focus = GetFocus();
  if (hwnd_ != nullptr && focus != nullptr && IsChild(hwnd_, focus)) {
    for (const auto& [id, kind] : kinds_) {
      HWND control = GetDlgItem(hwnd_, id);
      if (control == focus || IsChild(control, focus)) return id;
    }
    return kNoControlId;
  }
  // Not active now: the control it gets when it is activated.
  return remembered_focus_;
}

bool Win32Dialog::SetCueBanner(int id, const std::string& text) {
  HWND edit = Control(id);
  if (edit == nullptr || KindOf(id) != ControlKind::kEdit) return false;
  const std::wstring wide = Utf16FromUtf8(text);
  // Shown by the version 6 common controls only (the program's manifest).
  return SendMessageW(edit, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(wide.c_str())) != 0;
}

bool Win32Dialog::SetControlTip(int id, const std::string& text) {
  HWND control = Control(id);
  if (control == nullptr) return false;
  if (tooltip_ == nullptr) {
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                               nullptr, nullptr, nullptr);
    if (tooltip_ == nullptr) return false;
    SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 400);
  }
  std::wstring wide = Utf16FromUtf8(text);  // the tooltip keeps its own copy
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = wide.data();
  SendMessageW(tooltip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  return SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool)) != 0;
}

PaneControl* Win32Dialog::AttachOutputPane(int id) {
  HWND control = Control(id);
  if (control == nullptr || KindOf(id) != ControlKind::kOutputPane) return nullptr;
  auto& pane = panes_[id];
  if (!pane) pane = std::make_unique<Win32OutputPane>(control, Win32OutputPane::Limits{});
  return pane.get();
}

bool Win32Dialog::MakeLink(int id, const std::string& address, UrlOpener open) {
  HWND control = Control(id);
  if (control == nullptr || KindOf(id) != ControlKind::kLabel) return false;
  if (!open) open = [](const std::string& url) { return OpenUrlInBrowser(url); };
  links_[id] = std::make_unique<Win32HyperLink>(control, address, std::move(open));
  return true;
}

void Win32Dialog::AddStatusLine() {
  if (hwnd_ == nullptr || status_bar_ != nullptr) return;
  status_bar_ =
      CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBT_TOOLTIPS, 0, 0, 0,
                      0, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusBarId)),
                      GetModuleHandleW(nullptr), nullptr);
  if (status_bar_ == nullptr) return;
  RECT bar{};
  GetWindowRect(status_bar_, &bar);
  status_height_ = bar.bottom - bar.top;
  // The window grows by the bar, so the controls keep their template area.
  RECT client{};
  GetClientRect(hwnd_, &client);
  GrowClientTo(client.right, client.bottom + status_height_);
  SendMessageW(status_bar_, WM_SIZE, 0, 0);
}

void Win32Dialog::SetStatusText(const std::string& text) {
  if (status_bar_ == nullptr) return;
  status_text_ = text;
  SendMessageW(status_bar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Utf16FromUtf8(text).c_str()));
}

void Win32Dialog::SetStatusTip(const std::string& text) {
  if (status_bar_ == nullptr) return;
  SendMessageW(status_bar_, SB_SETTIPTEXTW, 0,
               reinterpret_cast<LPARAM>(Utf16FromUtf8(text).c_str()));
}

void Win32Dialog::SetTimer(int timer_id, std::chrono::milliseconds interval,
                           std::function<void()> tick) {
  if (hwnd_ == nullptr) return;
  timers_[timer_id] = std::move(tick);
  const auto ms = std::clamp<std::chrono::milliseconds::rep>(interval.count(), USER_TIMER_MINIMUM,
                                                             USER_TIMER_MAXIMUM);
  ::SetTimer(hwnd_, static_cast<UINT_PTR>(timer_id), static_cast<UINT>(ms), nullptr);
}

void Win32Dialog::KillTimer(int timer_id) {
  if (timers_.erase(timer_id) > 0 && hwnd_ != nullptr) {
    ::KillTimer(hwnd_, static_cast<UINT_PTR>(timer_id));
  }
}

}  // namespace portwick

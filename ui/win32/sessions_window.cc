// The Sessions window on Win32: the window, its controls, their layout in
// dialog units, showing and hiding, and where each message goes.
#include "ui/win32/sessions_window.h"

#include <algorithm>
#include <string>

#include "base/windows/win32_text.h"

namespace portwick {

namespace {

constexpr wchar_t kClassName[] = L"PortwickSessionsWindow";
constexpr UINT_PTR kRefreshTimer = 1;
constexpr int kIconId = 128;  // the program's icon in its resources

HMENU MenuId(int id) { return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)); }

HINSTANCE Module() { return GetModuleHandleW(nullptr); }

// Registers the window class once per process.
bool RegisterClassOnce(WNDPROC procedure) {
  static const bool registered = [procedure] {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = Module();
    window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    window_class.lpszClassName = kClassName;
    return RegisterClassExW(&window_class) != 0;
  }();
  return registered;
}

HFONT MessageFont() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    return CreateFontIndirectW(&metrics.lfMessageFont);
  }
  return nullptr;
}

HFONT FixedFont(int height, int weight) {
  return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     FIXED_PITCH | FF_MODERN, L"Consolas");
}

// The width of `text` in `font` on `window`, in pixels.
int TextWidth(HWND window, HFONT font, const wchar_t* text) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return size.cx;
}

void SetIcon(HWND window) {
  const auto id = reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(kIconId));
  for (const auto& [which, metric] : {std::pair{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}}) {
    const int size = GetSystemMetrics(metric);
    if (HANDLE icon = LoadImageW(Module(), id, IMAGE_ICON, size, size, LR_SHARED)) {
      SendMessageW(window, WM_SETICON, static_cast<WPARAM>(which), reinterpret_cast<LPARAM>(icon));
    }
  }
}

}  // namespace

Win32SessionsWindow::Win32SessionsWindow(FileChoosers* choosers) : choosers_(choosers) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  if (!RegisterClassOnce(&WindowProc)) return;
  font_.reset(MessageFont());
  // WS_EX_CONTROLPARENT: Tab goes into the controls as in a dialog.
  hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, L"Sessions - Portwick",
                          WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, 1000,
                          640, nullptr, nullptr, Module(), this);
  if (hwnd_ == nullptr) return;
  SetIcon(hwnd_);
  CreateControls();
  ACCEL keys[] = {
      {FVIRTKEY | FCONTROL, 'F', kFocusFindCommand},
      {FVIRTKEY, VK_F3, kFindNextCommand},
      {FVIRTKEY | FSHIFT, VK_F3, kFindPreviousCommand},
  };
  accelerators_ = CreateAcceleratorTableW(keys, static_cast<int>(std::size(keys)));
  AddKeyboardTarget(this);
  LayOut();
}

Win32SessionsWindow::~Win32SessionsWindow() {
  RemoveKeyboardTarget(this);
  if (hwnd_ != nullptr) {
    KillTimer(hwnd_, kRefreshTimer);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  if (accelerators_ != nullptr) DestroyAcceleratorTable(accelerators_);
}

int Win32SessionsWindow::DluX(int units) const { return MulDiv(units, char_width_, 4); }
int Win32SessionsWindow::DluY(int units) const { return MulDiv(units, char_height_, 8); }

void Win32SessionsWindow::CreateControls() {
  // Dialog base units of the message font, as a dialog in it would have.
  HDC dc = GetDC(hwnd_);
  HGDIOBJ old = SelectObject(dc, font_.get());
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SIZE alphabet{};
  GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &alphabet);
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  char_width_ = std::max(1, static_cast<int>((alphabet.cx / 26 + 1) / 2));
  char_height_ = std::max(1, static_cast<int>(metrics.tmHeight));
  fixed_font_.reset(FixedFont(-char_height_ + 1, FW_NORMAL));
  bold_fixed_font_.reset(FixedFont(-char_height_ + 1, FW_BOLD));

  struct Spec {
    Control id;
    const wchar_t* window_class;
    const wchar_t* text;
    DWORD style;
    DWORD extended;
  };
  constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
  constexpr DWORD kList = kChild | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS;
  const Spec specs[] = {
      {kFilterLabel, WC_STATICW, L"F&ilter:", kChild | SS_LEFT, 0},
      {kFilterBox, WC_EDITW, L"", kChild | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE},
      {kSessionList, WC_LISTVIEWW, L"Sessions", kList | LVS_SINGLESEL, WS_EX_CLIENTEDGE},
      {kHexBox, WC_BUTTONW, L"He&x", kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 0},
      {kFollowBox, WC_BUTTONW, L"F&ollow", kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 0},
      {kFindLabel, WC_STATICW, L"&Find:", kChild | SS_LEFT, 0},
      {kFindBox, WC_EDITW, L"", kChild | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE},
      {kFindKind, WC_COMBOBOXW, L"", kChild | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0},
      {kPreviousButton, WC_BUTTONW, L"&Previous", kChild | WS_TABSTOP | BS_PUSHBUTTON, 0},
      {kNextButton, WC_BUTTONW, L"&Next", kChild | WS_TABSTOP | BS_PUSHBUTTON, 0},
      {kExportButton, WC_BUTTONW, L"&Export \u25BE", kChild | WS_TABSTOP | BS_PUSHBUTTON, 0},
      {kConversationList, WC_LISTVIEWW, L"Conversation", kList | LVS_NOCOLUMNHEADER,
       WS_EX_CLIENTEDGE},
      // A read-only edit, so the message can be selected and copied.
      {kMessageLine, WC_EDITW, L"", kChild | ES_READONLY | ES_AUTOHSCROLL, 0},
  };
  for (const Spec& spec : specs) {
    HWND control = CreateWindowExW(spec.extended, spec.window_class, spec.text, spec.style, 0, 0, 0,
                                   0, hwnd_, MenuId(spec.id), Module(), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
  }
  sessions_ = control(kSessionList);
  conversation_ = control(kConversationList);
  SendMessageW(control(kFollowBox), BM_SETCHECK, BST_CHECKED, 0);
  SendMessageW(control(kFilterBox), EM_SETCUEBANNER, FALSE,
               reinterpret_cast<LPARAM>(L"text in any column"));
  SendMessageW(control(kFindBox), EM_SETCUEBANNER, FALSE,
               reinterpret_cast<LPARAM>(L"text, \\r \\n \\xNN escapes"));
  for (const wchar_t* kind : {L"Text", L"Hex bytes"}) {
    SendMessageW(control(kFindKind), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kind));
  }
  SendMessageW(control(kFindKind), CB_SETCURSEL, 0, 0);

  constexpr DWORD kRows = LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
  SendMessageW(sessions_, LVM_SETEXTENDEDLISTVIEWSTYLE, kRows, kRows);
  SendMessageW(conversation_, LVM_SETEXTENDEDLISTVIEWSTYLE, kRows, kRows);
  SendMessageW(conversation_, WM_SETFONT, reinterpret_cast<WPARAM>(fixed_font_.get()), FALSE);
  // Widths from samples of each column's longest usual text, so no cell
  // needs measuring however many rows there are.
  const wchar_t* const samples[SessionTable::kColumnCount] = {
      L"00000",
      L"127.0.0.1:65535",
      L"127.0.0.1:65535",
      L"00:00:00.000000",
      L"failed: connect: Connection refused",
      L"1023 MiB",
      L"1023 MiB",
      L"59 min 59 s",
      L"1023 MiB dropped"};
  for (int column = 0; column < SessionTable::kColumnCount; ++column) {
    const auto which = static_cast<SessionTable::Column>(column);
    std::wstring title = Utf16FromUtf8(SessionTable::ColumnTitle(which));
    LVCOLUMNW spec{};
    spec.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    spec.fmt = column > 0 && SessionTable::IsNumberColumn(which) ? LVCFMT_RIGHT : LVCFMT_LEFT;
    spec.cx = TextWidth(sessions_, font_.get(), samples[column]) + DluX(12);
    spec.pszText = title.data();
    spec.iSubItem = column;
    SendMessageW(sessions_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(&spec));
  }
  ShowSortArrow();
  LVCOLUMNW line{};
  line.mask = LVCF_WIDTH;
  line.cx = TextWidth(conversation_, fixed_font_.get(), L"0") * 160;
  SendMessageW(conversation_, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&line));
}

void Win32SessionsWindow::LayOut() {
  RECT client{};
  GetClientRect(hwnd_, &client);
  const int margin = DluX(7);
  const int gap = DluY(4);
  const int row = DluY(14);
  const int width = std::max(0, static_cast<int>(client.right) - 2 * margin);
  const int bottom = static_cast<int>(client.bottom) - margin;
  auto place = [this](Control id, int x, int y, int w, int h) {
    MoveWindow(control(id), x, y, std::max(0, w), std::max(0, h), TRUE);
  };
  auto text_width = [this](Control id) {
    wchar_t text[64] = {};
    GetWindowTextW(control(id), text, 64);
    return TextWidth(hwnd_, font_.get(), text);
  };
  // Filter row.
  int y = margin;
  const int filter_label = text_width(kFilterLabel) + DluX(4);
  place(kFilterLabel, margin, y + DluY(3), filter_label, row - DluY(3));
  place(kFilterBox, margin + filter_label, y, width - filter_label, row);
  y += row + gap;
  // Message line at the bottom; the lists and the tool row share the rest.
  const int message_height = DluY(10);
  place(kMessageLine, margin, bottom - message_height, width, message_height);
  const int lists = std::max(0, bottom - message_height - gap - y - row - 2 * gap);
  const int upper = static_cast<int>(lists * split_);
  place(kSessionList, margin, y, width, upper);
  y += upper + gap;
  // Tool row: check boxes, find, buttons.
  int x = margin;
  for (Control id : {kHexBox, kFollowBox}) {
    const int w = text_width(id) + DluX(16);
    place(id, x, y, w, row);
    x += w + DluX(4);
  }
  x += DluX(8);
  const int find_label = text_width(kFindLabel) + DluX(4);
  place(kFindLabel, x, y + DluY(3), find_label, row - DluY(3));
  x += find_label;
  const int kind_width = DluX(56);
  int buttons = 0;
  for (Control id : {kPreviousButton, kNextButton, kExportButton}) {
    buttons += std::max(DluX(50), text_width(id) + DluX(10)) + DluX(4);
  }
  const int find_width =
      std::max(DluX(40), margin + width - x - kind_width - DluX(4) - buttons - DluX(8));
  place(kFindBox, x, y, find_width, row);
  x += find_width + DluX(4);
  // A drop-down list's height includes its open list.
  place(kFindKind, x, y, kind_width, row + DluY(40));
  x += kind_width + DluX(4);
  for (Control id : {kPreviousButton, kNextButton, kExportButton}) {
    if (id == kExportButton) x += DluX(8);
    const int w = std::max(DluX(50), text_width(id) + DluX(10));
    place(id, x, y, w, row);
    x += w + DluX(4);
  }
  y += row + gap;
  place(kConversationList, margin, y, width, bottom - message_height - gap - y);
}

void Win32SessionsWindow::Present() {
  if (hwnd_ == nullptr) return;
  if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
}

void Win32SessionsWindow::Hide() {
  if (hwnd_ != nullptr) ShowWindow(hwnd_, SW_HIDE);
}

void Win32SessionsWindow::OnShown(bool shown) {
  if (!shown) {
    KillTimer(hwnd_, kRefreshTimer);
    return;
  }
  Refresh();
  const bool has_selection = SendMessageW(sessions_, LVM_GETSELECTEDCOUNT, 0, 0) > 0;
  if (const std::optional<SessionId> newest = SessionToSelectOnShow(has_selection, table_)) {
    SelectSession(*newest);
  }
  SetTimer(hwnd_, kRefreshTimer, static_cast<UINT>(kRefreshInterval.count()), nullptr);
}

void Win32SessionsWindow::Refresh() {
  UpdateTable();
  if (lines_.store() != nullptr) lines_.Load(kLoadBudget);
}

void Win32SessionsWindow::Say(const std::string& text) {
  SetWindowTextW(control(kMessageLine), Utf16FromUtf8(text).c_str());
}

std::string Win32SessionsWindow::message() const {
  const HWND line = control(kMessageLine);
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(line)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(line, text.data(), static_cast<int>(text.size()))));
  return Utf8FromUtf16(text);
}

void Win32SessionsWindow::OnCommand(int id, int code) {
  switch (id) {
    case kFilterBox:
      if (code == EN_CHANGE) {
        const HWND box = control(kFilterBox);
        std::wstring text(static_cast<size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
        text.resize(
            static_cast<size_t>(GetWindowTextW(box, text.data(), static_cast<int>(text.size()))));
        SetFilter(Utf8FromUtf16(text));
      }
      return;
    case kHexBox:
      if (code == BN_CLICKED) {
        SetHexMode(SendMessageW(control(kHexBox), BM_GETCHECK, 0, 0) == BST_CHECKED);
      }
      return;
    case kPreviousButton:
    case kNextButton:
      if (code == BN_CLICKED) FindNext(id == kNextButton);
      return;
    case kExportButton:
      if (code == BN_CLICKED) {
        // The kinds as a menu under the button; the chosen one comes back
        // here as its command.
        HMENU menu = CreatePopupMenu();
        const std::pair<const wchar_t*, ExportKind> kinds[] = {
            {L"&Client \u2192 server bytes...", ExportKind::kClientBytes},
            {L"&Server \u2192 client bytes...", ExportKind::kServerBytes},
            {L"&Text transcript...", ExportKind::kTranscript},
            {L"&pcapng of this session...", ExportKind::kPcapngSession},
            {L"pcapng of &all sessions...", ExportKind::kPcapngAll},
        };
        for (const auto& [text, kind] : kinds) {
          AppendMenuW(menu, MF_STRING,
                      static_cast<UINT_PTR>(kExportCommand + static_cast<int>(kind)), text);
        }
        RECT button{};
        GetWindowRect(control(kExportButton), &button);
        const int chosen =
            static_cast<int>(TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN,
                                              button.left, button.bottom, hwnd_, nullptr));
        DestroyMenu(menu);
        if (chosen != 0) OnCommand(chosen, 0);
      }
      return;
    case IDOK:  // Enter: finds when typed in the find box
      if (GetFocus() == control(kFindBox)) FindNext(true);
      return;
    case IDCANCEL:  // Esc
      Hide();
      return;
    case kFocusFindCommand:
      SetFocus(control(kFindBox));
      SendMessageW(control(kFindBox), EM_SETSEL, 0, -1);
      return;
    case kFindNextCommand:
    case kFindPreviousCommand:
      FindNext(id == kFindNextCommand);
      return;
    default:
      if (id >= kExportCommand && id <= kExportCommand + static_cast<int>(ExportKind::kPcapngAll)) {
        Export(static_cast<ExportKind>(id - kExportCommand));
      }
      return;
  }
}

LRESULT Win32SessionsWindow::OnNotify(const NMHDR& header) {
  NMHDR& mutable_header = const_cast<NMHDR&>(header);
  if (header.hwndFrom == sessions_) {
    switch (header.code) {
      case LVN_GETDISPINFOW:
        FillSessionCell(reinterpret_cast<NMLVDISPINFOW&>(mutable_header));
        return 0;
      case LVN_ITEMCHANGED: {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if ((change.uChanged & LVIF_STATE) != 0 &&
            ((change.uNewState ^ change.uOldState) & LVIS_SELECTED) != 0) {
          OnSessionSelectionChanged();
        }
        return 0;
      }
      case LVN_ODSTATECHANGED:
        OnSessionSelectionChanged();
        return 0;
      case LVN_COLUMNCLICK:
        OnColumnClick(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
        return 0;
      case NM_CUSTOMDRAW:
        return DrawSessionRow(reinterpret_cast<NMLVCUSTOMDRAW&>(mutable_header));
      default:
        return 0;
    }
  }
  if (header.hwndFrom == conversation_) {
    switch (header.code) {
      case LVN_GETDISPINFOW:
        FillLine(reinterpret_cast<NMLVDISPINFOW&>(mutable_header));
        return 0;
      case NM_CUSTOMDRAW:
        return DrawLine(reinterpret_cast<NMLVCUSTOMDRAW&>(mutable_header));
      default:
        return 0;
    }
  }
  return 0;
}

bool Win32SessionsWindow::OnSplitterMouse(UINT message, LPARAM lparam) {
  const POINT at{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
  RECT upper{};
  RECT lower{};
  GetWindowRect(sessions_, &upper);
  GetWindowRect(control(kHexBox), &lower);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&upper), 2);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&lower), 2);
  const bool on_gap = at.y >= upper.bottom && at.y < lower.top;
  switch (message) {
    case WM_LBUTTONDOWN:
      if (!on_gap) return false;
      dragging_split_ = true;
      SetCapture(hwnd_);
      return true;
    case WM_MOUSEMOVE:
      if (!dragging_split_) return false;
      {
        RECT conversation{};
        GetWindowRect(conversation_, &conversation);
        MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&conversation), 2);
        const int total = (upper.bottom - upper.top) + (conversation.bottom - conversation.top);
        if (total > 0) {
          split_ = std::clamp(static_cast<double>(at.y - upper.top) / total, 0.1, 0.9);
          LayOut();
        }
      }
      return true;
    case WM_LBUTTONUP:
      if (!dragging_split_) return false;
      dragging_split_ = false;
      ReleaseCapture();
      return true;
    case WM_SETCURSOR: {
      POINT cursor{};
      GetCursorPos(&cursor);
      ScreenToClient(hwnd_, &cursor);
      if (!dragging_split_ && (cursor.y < upper.bottom || cursor.y >= lower.top)) return false;
      SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_SIZENS)));
      return true;
    }
    default:
      return false;
  }
}

bool Win32SessionsWindow::PreTranslate(MSG* message) {
  // Ctrl+C and Ctrl+Shift+C copy the conversation's selected lines there
  // (elsewhere they stay the edit boxes' own).
  if (message->message == WM_KEYDOWN && message->hwnd == conversation_ && message->wParam == 'C' &&
      (GetKeyState(VK_CONTROL) & 0x8000) != 0) {
    CopySelection((GetKeyState(VK_SHIFT) & 0x8000) != 0);
    return true;
  }
  if (accelerators_ != nullptr && TranslateAcceleratorW(hwnd_, accelerators_, message)) return true;
  return IsDialogMessageW(hwnd_, message) != FALSE;
}

LRESULT CALLBACK Win32SessionsWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                                 LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    static_cast<Win32SessionsWindow*>(create->lpCreateParams)->hwnd_ = hwnd;
  }
  auto* window = reinterpret_cast<Win32SessionsWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (window == nullptr || window->hwnd_ != hwnd) {
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
  return window->Handle(message, wparam, lparam);
}

LRESULT Win32SessionsWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SIZE:
      if (sessions_ != nullptr) LayOut();
      return 0;
    case WM_GETMINMAXINFO: {
      auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
      limits->ptMinTrackSize = {DluX(320), DluY(200)};
      return 0;
    }
    case WM_SHOWWINDOW:
      OnShown(wparam != FALSE);
      break;
    case WM_CLOSE:  // closing hides; the main window owns this one
      Hide();
      return 0;
    case WM_TIMER:
      if (wparam == kRefreshTimer) Refresh();
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lparam));
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
      if (OnSplitterMouse(message, lparam)) return 0;
      break;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wparam) == hwnd_ && LOWORD(lparam) == HTCLIENT &&
          OnSplitterMouse(message, lparam)) {
        return TRUE;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wparam, lparam);
}

}  // namespace portwick

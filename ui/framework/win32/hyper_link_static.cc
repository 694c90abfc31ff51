#include "ui/framework/win32/hyper_link_static.h"

#include <commctrl.h>

#include <utility>

#include "base/windows/win32_text.h"

namespace portwick {

namespace {

constexpr UINT_PTR kSubclassId = 0x4C4B;
constexpr size_t kMaxColorText = 11;  // "255,255,255" fits the 12-byte buffer

std::optional<COLORREF> ReadColor(HKEY key, const wchar_t* name) {
  wchar_t buffer[kMaxColorText + 1] = {};
  DWORD size = sizeof(buffer);
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  buffer[kMaxColorText] = L'\0';
  return ParseLinkColor(Utf8FromUtf16(buffer));
}

}  // namespace

std::optional<COLORREF> ParseLinkColor(std::string_view text) {
  if (text.size() > kMaxColorText) return std::nullopt;
  int parts[3] = {0, 0, 0};
  size_t part = 0;
  size_t digits = 0;
  for (char c : text) {
    if (c == ',') {
      if (digits == 0 || ++part > 2) return std::nullopt;
      digits = 0;
      continue;
    }
    if (c < '0' || c > '9' || ++digits > 3) return std::nullopt;
    parts[part] = parts[part] * 10 + (c - '0');
    if (parts[part] > 255) return std::nullopt;
  }
  if (part != 2 || digits == 0) return std::nullopt;
  return RGB(parts[0], parts[1], parts[2]);
}

LinkColors BrowserLinkColors() {
  LinkColors colors;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Settings", 0,
                    KEY_READ, &key) != ERROR_SUCCESS) {
    return colors;
  }
  if (auto link = ReadColor(key, L"Anchor Color")) colors.link = *link;
  if (auto visited = ReadColor(key, L"Anchor Color Visited")) colors.visited = *visited;
  RegCloseKey(key);
  return colors;
}

Win32HyperLink::Win32HyperLink(HWND control, std::string address, UrlOpener open)
    : control_(control),
      address_(std::move(address)),
      open_(std::move(open)),
      colors_(BrowserLinkColors()),
      wide_address_(Utf16FromUtf8(address_)) {
  // Clicks and the focus reach the static from now on.
  SetWindowLongPtrW(control_, GWL_STYLE,
                    GetWindowLongPtrW(control_, GWL_STYLE) | SS_NOTIFY | WS_TABSTOP);
  HWND dialog = GetParent(control_);
  LOGFONTW font{};
  if (auto dialog_font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0))) {
    GetObjectW(dialog_font, sizeof(font), &font);
  } else {
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
  }
  font.lfUnderline = TRUE;
  font_ = CreateFontIndirectW(&font);

  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog,
                             nullptr, nullptr, nullptr);
  if (tooltip_ != nullptr) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = dialog;
    tool.uId = reinterpret_cast<UINT_PTR>(control_);
    tool.lpszText = wide_address_.data();
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  SetWindowSubclass(control_, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  InvalidateRect(control_, nullptr, TRUE);
}

Win32HyperLink::~Win32HyperLink() {
  if (IsWindow(control_)) RemoveWindowSubclass(control_, SubclassProc, kSubclassId);
  if (tooltip_ != nullptr) DestroyWindow(tooltip_);
  if (font_ != nullptr) DeleteObject(font_);
}

void Win32HyperLink::Open() {
  if (!open_ || !open_(address_)) return;
  visited_ = true;
  InvalidateRect(control_, nullptr, TRUE);
}

void Win32HyperLink::Paint() {
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(control_, &paint);
  RECT client{};
  GetClientRect(control_, &client);
  // The dialog's background for statics.
  auto brush = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(control_), WM_CTLCOLORSTATIC,
                                                     reinterpret_cast<WPARAM>(dc),
                                                     reinterpret_cast<LPARAM>(control_)));
  FillRect(dc, &client, brush != nullptr ? brush : GetSysColorBrush(COLOR_BTNFACE));
  const int length = GetWindowTextLengthW(control_);
  std::wstring label(static_cast<size_t>(length) + 1, L'\0');
  label.resize(static_cast<size_t>(GetWindowTextW(control_, label.data(), length + 1)));
  HGDIOBJ old_font = SelectObject(dc, font_);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, current_color());
  RECT text = client;
  DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &text,
            DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
  DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &text,
            DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  if (GetFocus() == control_) DrawFocusRect(dc, &text);
  SelectObject(dc, old_font);
  EndPaint(control_, &paint);
}

LRESULT CALLBACK Win32HyperLink::SubclassProc(HWND window, UINT message, WPARAM wparam,
                                              LPARAM lparam, UINT_PTR /*id*/, DWORD_PTR self) {
  auto* link = reinterpret_cast<Win32HyperLink*>(self);
  switch (message) {
    case WM_PAINT:
      link->Paint();
      return 0;
    case WM_SETCURSOR:
      SetCursor(LoadCursorW(nullptr, IDC_HAND));
      return TRUE;
    case WM_LBUTTONDOWN:
      link->pressed_ = true;
      SetCapture(window);
      return 0;
    case WM_LBUTTONUP: {
      const bool was_pressed = std::exchange(link->pressed_, false);
      if (GetCapture() == window) ReleaseCapture();
      RECT client{};
      GetClientRect(window, &client);
      const POINT at{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      if (was_pressed && PtInRect(&client, at)) link->Open();
      return 0;
    }
    case WM_GETDLGCODE:
      // Enter and Space reach the link while it has the focus.
      return DLGC_WANTCHARS | DLGC_STATIC |
             ((lparam != 0 && reinterpret_cast<const MSG*>(lparam)->wParam == VK_RETURN)
                  ? DLGC_WANTMESSAGE
                  : 0);
    case WM_KEYDOWN:
      if (wparam == VK_RETURN || wparam == VK_SPACE) {
        link->Open();
        return 0;
      }
      break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(window, nullptr, TRUE);
      break;
    default:
      break;
  }
  return DefSubclassProc(window, message, wparam, lparam);
}

}  // namespace portwick

#ifndef PORTWICK_UI_FRAMEWORK_WIN32_HYPER_LINK_STATIC_H_
#define PORTWICK_UI_FRAMEWORK_WIN32_HYPER_LINK_STATIC_H_

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "ui/framework/desktop.h"

namespace portwick {

// A browser link colour as the registry keeps it: "red,green,blue" in
// decimal, each 0..255, at most 11 characters; nothing for any other text.
std::optional<COLORREF> ParseLinkColor(std::string_view text);

// The link colours: from HKEY_CURRENT_USER\Software\Microsoft\Internet
// Explorer\Settings ("Anchor Color", "Anchor Color Visited") when they are
// there and readable, else blue (0,0,255) and purple (128,0,128).
struct LinkColors {
  COLORREF link = RGB(0, 0, 255);
  COLORREF visited = RGB(128, 0, 128);
};
LinkColors BrowserLinkColors();

// A static control of a dialog drawn as a link to `address`: its own text
// in the link colour, underlined, on the dialog's background, a hand
// cursor and the address as tooltip. A click (press and release over it),
// or Enter or Space while it has the focus (it then shows a focus
// rectangle), opens the address with `open`; when that reports success the
// link takes the visited colour for the rest of its life.
//
// Owned by its dialog, which destroys it before the control. GUI thread.
class Win32HyperLink {
 public:
  Win32HyperLink(HWND control, std::string address, UrlOpener open);
  Win32HyperLink(const Win32HyperLink&) = delete;
  Win32HyperLink& operator=(const Win32HyperLink&) = delete;
  ~Win32HyperLink();

  // Opens the address as a click does.
  void Open();
  bool visited() const { return visited_; }
  COLORREF current_color() const { return visited_ ? colors_.visited : colors_.link; }
  const std::string& address() const { return address_; }
  HWND control() const { return control_; }

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR id, DWORD_PTR self);
  void Paint();

  const HWND control_;
  const std::string address_;
  const UrlOpener open_;
  const LinkColors colors_;
  bool visited_ = false;
  bool pressed_ = false;
  HFONT font_ = nullptr;       // the dialog's font, underlined; owned
  HWND tooltip_ = nullptr;     // owned
  std::wstring wide_address_;  // the tooltip's text, kept while it shows
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_WIN32_HYPER_LINK_STATIC_H_

// Start-up's toolkit under Win32: COM for the main thread (the Save dialog
// uses it), the common controls and the rich edit library, and the help box.
// <windows.h> comes first.
// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include "app/gui_toolkit.h"
#include "base/windows/win32_text.h"
#include "run/application_title.h"
#include "ui/framework/win32/common_controls.h"

namespace portwick {

namespace {

class Win32Session : public GuiToolkitSession {
 public:
  Win32Session() : com_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    EnsureCommonControls();
  }
  ~Win32Session() override {
    if (com_) CoUninitialize();
  }

 private:
  const bool com_;
};

}  // namespace

std::unique_ptr<GuiToolkitSession> StartGuiToolkit(const std::string& /*program_path*/) {
  return std::make_unique<Win32Session>();
}

void ShowToolkitHelpBox(const std::string& text) {
  // The message box keeps the help's tabs; lines end in CR LF as Windows
  // texts do.
  std::string crlf;
  for (char c : text) {
    if (c == '\n' && (crlf.empty() || crlf.back() != '\r')) crlf += '\r';
    crlf += c;
  }
  MessageBoxW(nullptr, Utf16FromUtf8(crlf).c_str(), Utf16FromUtf8(kApplicationTitle).c_str(),
              MB_OK);
}

}  // namespace portwick

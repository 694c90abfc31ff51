// The desktop's Save dialog (GetSaveFileName) and error box (MessageBox).
#include "ui/framework/win32/file_dialogs.h"

// <windows.h> comes first.
// clang-format off
#include <windows.h>
#include <commdlg.h>
// clang-format on

#include <vector>

#include "base/windows/win32_text.h"
#include "ui/framework/desktop.h"

namespace portwick {

namespace {

// Long enough for any path the dialog can return.
constexpr size_t kPathBuffer = 32768;

class Win32FileChoosers : public FileChoosers {
 public:
  std::optional<std::string> ChooseSaveFile(NativeWindow owner,
                                            const SaveFileRequest& request) override {
    const std::wstring filter = SaveFilterString(request.filters);
    const std::wstring extension = DefaultExtension(request);
    std::vector<wchar_t> path(kPathBuffer, L'\0');
    const std::wstring initial = Utf16FromUtf8(request.initial_name);
    initial.copy(path.data(), std::min(initial.size(), path.size() - 1));

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = static_cast<HWND>(owner);
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    dialog.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING | OFN_NOCHANGEDIR |
                   (request.confirm_overwrite ? OFN_OVERWRITEPROMPT : 0);
    if (!GetSaveFileNameW(&dialog)) return std::nullopt;  // cancelled or failed
    return Utf8FromUtf16(path.data());
  }

  void ShowError(NativeWindow owner, const std::string& text) override {
    ShowErrorBox(owner, text);
  }
};

}  // namespace

std::wstring SaveFilterString(const std::vector<std::string>& filters) {
  std::wstring result;
  for (const std::string& filter : filters) {
    const size_t open = filter.rfind('(');
    const size_t close = filter.rfind(')');
    const std::string pattern =
        open != std::string::npos && close != std::string::npos && close > open + 1
            ? filter.substr(open + 1, close - open - 1)
            : filter;
    result += Utf16FromUtf8(filter);
    result += L'\0';
    result += Utf16FromUtf8(pattern);
    result += L'\0';
  }
  result += L'\0';
  return result;
}

std::wstring DefaultExtension(const SaveFileRequest& request) {
  std::string suffix = request.default_suffix;
  if (!suffix.empty() && suffix.front() == '.') suffix.erase(0, 1);
  return Utf16FromUtf8(suffix);
}

FileChoosers& DesktopFileChoosers() {
  static Win32FileChoosers choosers;
  return choosers;
}

}  // namespace portwick

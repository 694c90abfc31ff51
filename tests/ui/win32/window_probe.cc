// Finds a top-level window of the running desktop by its exact title, for
// the Wine stage's check of the window program (scripts/wine_gui_check.py):
//   window_probe.exe TITLE [--escape]
// Waits up to 30 s for the title. With --escape it then presses Esc in that
// window (a key press and release posted to it, which the window's dialog
// manager turns into its cancel command). Exit code 0 when the window was
// found; otherwise 1, after listing the titles it saw.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/windows/win32_text.h"

namespace {

BOOL CALLBACK CollectTitle(HWND window, LPARAM titles) {
  wchar_t text[512] = {};
  if (GetWindowTextW(window, text, 512) > 0) {
    reinterpret_cast<std::vector<std::wstring>*>(titles)->push_back(text);
  }
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: window_probe TITLE [--escape]\n");
    return 2;
  }
  const std::wstring title = argv[1];
  const bool escape = argc > 2 && std::wstring(argv[2]) == L"--escape";
  HWND window = nullptr;
  const ULONGLONG deadline = GetTickCount64() + 30000;
  while ((window = FindWindowW(nullptr, title.c_str())) == nullptr && GetTickCount64() < deadline) {
    Sleep(100);
  }
  if (window == nullptr) {
    std::vector<std::wstring> titles;
    EnumWindows(CollectTitle, reinterpret_cast<LPARAM>(&titles));
    std::fprintf(stderr, "window_probe: no window \"%s\"; titles seen:\n",
                 portwick::Utf8FromUtf16(title).c_str());
    for (const std::wstring& seen : titles) {
      std::fprintf(stderr, "  \"%s\"\n", portwick::Utf8FromUtf16(seen).c_str());
    }
    return 1;
  }
  // Whether the window's thread answers within 5 s.
  DWORD_PTR ignored = 0;
  const bool responsive =
      SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored) != 0;
  std::printf("window_probe: found \"%s\" (visible: %d, responsive: %d)\n",
              portwick::Utf8FromUtf16(title).c_str(), IsWindowVisible(window) ? 1 : 0,
              responsive ? 1 : 0);
  if (escape) {
    const UINT scan = MapVirtualKeyW(VK_ESCAPE, MAPVK_VK_TO_VSC);
    PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 1 | (LPARAM{scan} << 16));
    PostMessageW(window, WM_KEYUP, VK_ESCAPE, 1 | (LPARAM{scan} << 16) | (LPARAM{3} << 30));
  }
  std::fflush(stdout);
  return 0;
}

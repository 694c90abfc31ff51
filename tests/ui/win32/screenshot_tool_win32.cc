// Takes pictures of the Windows build's windows as the screen shows them,
// frame and title bar included (run inside `wine explorer /desktop=...`,
// where Wine draws the frames), as 24-bit BMP files for
// scripts/screenshot.sh to turn into PNG.
//   portwick_win32_screenshot sessions OUTDIR
//     the Sessions window with three sessions (an HTTP-like one as text, a
//     binary one in hex, a refused connect): OUTDIR\windows_sessions_text.bmp
//     and windows_sessions_hex.bmp
//   portwick_win32_screenshot window TITLE OUT.bmp [COMMAND TITLE2 OUT2.bmp]
//     waits (30 s at most) for a top-level window whose title starts with
//     TITLE, takes it; then sends it WM_COMMAND COMMAND and takes the window
//     titled TITLE2 that this opens (the main window and its About box)
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/windows/win32_text.h"
#include "capture_events.h"
#include "scripted_file_choosers.h"
#include "ui/win32/sessions_window.h"

namespace {

using portwick::Direction;

void Pump(std::chrono::milliseconds for_at_least) {
  const auto end = std::chrono::steady_clock::now() + for_at_least;
  MSG message;
  while (std::chrono::steady_clock::now() < end) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

// The window's rectangle on the screen as a bottom-up 24-bit BMP.
bool Save(HWND window, const std::wstring& path) {
  RECT rect{};
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files keep rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const bool copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  const size_t size = stride * static_cast<size_t>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + size);
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(size));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  std::printf("%s\n", portwick::Utf8FromUtf16(path).c_str());
  return copied && out.good();
}

int Sessions(const std::wstring& dir) {
  auto store = std::make_shared<portwick::CaptureStore>();
  portwick::testing::EventFeeder feeder(store.get());
  feeder.OpenAndConnect(1);
  feeder.Chunk(1, Direction::kClientToServer,
               "GET /index.html HTTP/1.1\r\nHost: localhost\r\nUser-Agent: demo/1.0\r\n"
               "Accept: text/html\r\n\r\n");
  const std::string body =
      "<!doctype html>\n<title>Portwick</title>\n<p>Hello from the server.</p>\n";
  feeder.Chunk(1, Direction::kServerToClient,
               "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  feeder.Close(1, portwick::CloseReason::kBothFinished, 95, 180);
  feeder.OpenAndConnect(2);
  std::string binary;
  for (int i = 0; i < 80; ++i) binary.push_back(static_cast<char>(i * 7 % 256));
  feeder.Chunk(2, Direction::kClientToServer, binary);
  std::string reply = {'\0', static_cast<char>(binary.size())};
  reply.append(binary.rbegin(), binary.rend());
  feeder.Chunk(2, Direction::kServerToClient, reply);
  feeder.Close(2, portwick::CloseReason::kBothFinished, 80, 82);
  feeder.Open(3);
  feeder.FailConnect(3, "connect", ECONNREFUSED, "Connection refused");
  feeder.Close(3, portwick::CloseReason::kConnectFailed);

  portwick::ScriptedFileChoosers choosers;
  portwick::Win32SessionsWindow window(&choosers);
  if (window.hwnd() == nullptr) return 1;
  window.SetStore(store);
  SetWindowPos(window.hwnd(), nullptr, 20, 20, 960, 620, SWP_NOZORDER);
  window.Present();
  window.SelectSession(1);
  Pump(std::chrono::milliseconds(1500));
  bool ok = Save(window.hwnd(), dir + L"\\windows_sessions_text.bmp");
  window.SelectSession(2);
  window.SetHexMode(true);
  Pump(std::chrono::milliseconds(1000));
  ok = Save(window.hwnd(), dir + L"\\windows_sessions_hex.bmp") && ok;
  return ok ? 0 : 1;
}

HWND WaitForWindow(const std::wstring& title) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < end) {
    struct Search {
      const std::wstring* title;
      HWND found;
    } search{&title, nullptr};
    EnumWindows(
        [](HWND window, LPARAM pointer) -> BOOL {
          auto* s = reinterpret_cast<Search*>(pointer);
          wchar_t text[256] = {};
          GetWindowTextW(window, text, 256);
          if (IsWindowVisible(window) && std::wstring(text).starts_with(*s->title)) {
            s->found = window;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    Pump(std::chrono::milliseconds(200));
  }
  return nullptr;
}

int Window(const std::vector<std::wstring>& args) {
  HWND window = WaitForWindow(args[0]);
  if (window == nullptr) return 1;
  Pump(std::chrono::milliseconds(1000));  // drawn in full
  bool ok = Save(window, args[1]);
  if (args.size() == 5) {
    PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(std::stoi(args[2])), 0);
    HWND opened = WaitForWindow(args[3]);
    if (opened == nullptr) return 1;
    Pump(std::chrono::milliseconds(1000));
    ok = Save(opened, args[4]) && ok;
    PostMessageW(opened, WM_COMMAND, IDOK, 0);
  }
  return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::vector<std::wstring> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == L"sessions") return Sessions(args[1]);
  if ((args.size() == 3 || args.size() == 6) && args[0] == L"window") {
    return Window({args.begin() + 1, args.end()});
  }
  std::fprintf(stderr,
               "usage: portwick_win32_screenshot sessions OUTDIR\n"
               "       portwick_win32_screenshot window TITLE OUT.bmp [COMMAND TITLE2 OUT2.bmp]\n");
  return 2;
}

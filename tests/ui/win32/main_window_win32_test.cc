// The main window on the Win32 dialog manager, driven in-process by
// messages: its fields and states, titles, exit codes through the real loop,
// the bad port field, keyboard mnemonics, traffic through the window and
// the About box's version from the VERSIONINFO resource.
// The loopback helpers before <windows.h> (it defines `near` and `far`),
// and <winsock2.h> before it too.
// clang-format off
#include "test_server.h"
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "scripted_file_choosers.h"
#include "ui/about_box.h"
#include "ui/framework/data_exchange.h"
#include "ui/framework/loop_registry.h"
#include "ui/framework/message_loop.h"
#include "ui/framework/win32/output_pane.h"
#include "ui/framework/win32/win32_dialog.h"
#include "ui/main_window.h"
#include "ui/main_window_template.h"
#include "ui/version_reader.h"
#include "win32_test_support.h"

namespace portwick {
namespace {

using namespace portwick::testing;

constexpr UINT_PTR kTitleRecorder = 0x5452;

// Records every title the window takes.
LRESULT CALLBACK RecordTitles(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                              UINT_PTR /*id*/, DWORD_PTR titles) {
  if (message == WM_SETTEXT && lparam != 0) {
    reinterpret_cast<std::vector<std::wstring>*>(titles)->push_back(
        reinterpret_cast<const wchar_t*>(lparam));
  }
  return DefSubclassProc(window, message, wparam, lparam);
}

class Win32MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoopRegistry::Global().Add(std::this_thread::get_id(), &loop_));
    SetExchangeBeep([this] { ++beeps_; });
  }
  void TearDown() override {
    window_.reset();
    SetExchangeBeep({});
    LoopRegistry::Global().Remove(std::this_thread::get_id());
  }

  void Open(const ProxySettings& settings) {
    UiServices services;
    services.open_url = [](const std::string&) { return true; };
    services.version_cache = &cache_;
    services.file_choosers = &choosers_;
    services.program_path = "C:\\Program Files\\Portwick\\portwick.exe";
    window_ = std::make_unique<MainWindow>(settings, services);
    ASSERT_TRUE(window_->Create());
    titles_.clear();
    SetWindowSubclass(hwnd(), RecordTitles, kTitleRecorder, reinterpret_cast<DWORD_PTR>(&titles_));
  }
  static ProxySettings Forwarding(int remote_port) {
    ProxySettings settings;
    settings.local_port = 0;
    settings.remote_host = "127.0.0.1";
    settings.remote_port = remote_port;
    return settings;
  }

  Dialog& dialog() { return *window_->dialog(); }
  HWND hwnd() { return Win32DialogOf(dialog()).hwnd(); }
  HWND control(int id) { return Win32DialogOf(dialog()).Control(id); }
  bool EnabledAtIdle(int id) {
    loop_.OnIdle(0);
    return IsWindowEnabled(control(id)) != 0;
  }
  std::string Text(int id) {
    std::string text;
    EXPECT_TRUE(dialog().GetControlText(id, &text));
    return text;
  }
  void Click(int id) { SendMessageW(control(id), BM_CLICK, 0, 0); }
  void ShowActive() {
    window_->Show();
    SetForegroundWindow(hwnd());
  }
  std::wstring Running() {
    return L"[LP: " + std::to_wstring(window_->listener().BoundPort()) + L", RP: 2007, RH: " +
           L"127.0.0.1] - Portwick";
  }

  MessageLoop loop_;  // outlives the window
  ProductVersionCache cache_;
  ScriptedFileChoosers choosers_;
  std::vector<std::wstring> titles_;
  int beeps_ = 0;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(Win32MainWindowTest, BuiltInSettingsShowInTheFieldsWithTheirStates) {
  Open(ProxySettings{});
  EXPECT_EQ(Text(kLocalPortField), "1999");
  EXPECT_EQ(Text(kRemoteHostField), "localhost");
  EXPECT_EQ(Text(kRemotePortField), "2007");
  EXPECT_EQ(Text(kFileNameField), "");
  EXPECT_EQ(SendMessageW(control(kShowInOutputBox), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(control(kWriteToFileBox), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(WindowTitle(hwnd()), "Portwick");
  for (int id : {kFileNameField, kBrowseButton, kStopButton}) EXPECT_FALSE(EnabledAtIdle(id)) << id;
  for (int id : {kStartButton, kClearButton, kOutputPane}) EXPECT_TRUE(EnabledAtIdle(id)) << id;
  // Ticking Write to File enables File Name and Browse at the next idle.
  Click(kWriteToFileBox);
  EXPECT_FALSE(IsWindowEnabled(control(kFileNameField))) << "not before the idle step";
  EXPECT_TRUE(EnabledAtIdle(kFileNameField));
  EXPECT_TRUE(EnabledAtIdle(kBrowseButton));
  // The menu bar: Action, View, Help; the icon and the status bar are there.
  HMENU bar = GetMenu(hwnd());
  ASSERT_EQ(GetMenuItemCount(bar), 3);
  EXPECT_NE(SendMessageW(hwnd(), WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(Win32DialogOf(dialog()).status_bar(), nullptr);
}

TEST_F(Win32MainWindowTest, EnterStartsAndStopSetsItsTitlesAndButtons) {
  Open(Forwarding(2007));
  // Enter in a field presses the default button, Start.
  PressKey(control(kLocalPortField), VK_RETURN);
  ASSERT_TRUE(window_->listener().IsRunning());
  const std::wstring running = Running();
  EXPECT_FALSE(EnabledAtIdle(kStartButton));
  EXPECT_TRUE(EnabledAtIdle(kStopButton));
  SendMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(kStopCommand, 0), 0);  // Action > Stop
  EXPECT_FALSE(window_->listener().IsRunning());
  EXPECT_TRUE(EnabledAtIdle(kStartButton));
  EXPECT_FALSE(EnabledAtIdle(kStopButton));
  EXPECT_EQ(titles_, (std::vector<std::wstring>{running, L"[Stop requested] - Portwick",
                                                L"[Stopped] - Portwick"}));
}

TEST_F(Win32MainWindowTest, APortFieldWithoutANumberBeepsAndTakesTheFocus) {
  Open(Forwarding(2007));
  ShowActive();
  SetWindowTextW(control(kRemotePortField), L"abc");
  Click(kStartButton);
  EXPECT_EQ(beeps_, 1);
  EXPECT_EQ(GetFocus(), control(kRemotePortField));
  EXPECT_FALSE(window_->listener().IsRunning());
  EXPECT_TRUE(titles_.empty());
}

TEST_F(Win32MainWindowTest, ClosingCommandsEndTheLoopWithTheirIds) {
  struct Case {
    const char* name;
    int expected;
  };
  const Case kCases[] = {{"Close button", 1}, {"Esc", 2}, {"close box", 2}, {"Exit", 57665}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Open(ProxySettings{});
    ShowActive();
    const std::string name = c.name;
    if (name == "Close button") {
      PostMessageW(control(kCloseButton), BM_CLICK, 0, 0);
    } else if (name == "Esc") {
      // In the output pane, which keeps Enter but gives Esc to the dialog.
      dialog().FocusControl(kOutputPane);
      const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(VK_ESCAPE, MAPVK_VK_TO_VSC)) << 16;
      PostMessageW(control(kOutputPane), WM_KEYDOWN, VK_ESCAPE, 1 | scan);
    } else if (name == "close box") {
      PostMessageW(hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
      PostMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(kExitCommand, 0), 0);
    }
    // Should nothing end the loop, the guard does (with -1).
    dialog().SetTimer(99, std::chrono::seconds(10), [this] { loop_.PostQuit(-1); });
    EXPECT_EQ(loop_.Run(), c.expected);
    dialog().KillTimer(99);
    EXPECT_FALSE(IsWindowVisible(hwnd()));
  }
}

TEST_F(Win32MainWindowTest, MnemonicsOfDialog129NeitherCollideNorMiss) {
  // From the template: no visible control's mnemonic may take a menu
  // title's letter (under Win32 the control's would win).
  std::map<char, std::string> control_letters;
  for (const ControlTemplate& c : MainWindowTemplate().controls) {
    if (c.text == nullptr || (c.style & kStyleHidden)) continue;
    const std::string text = c.text;
    const size_t amp = text.find('&');
    if (amp != std::string::npos && amp + 1 < text.size()) {
      const char letter =
          static_cast<char>(std::tolower(static_cast<unsigned char>(text[amp + 1])));
      EXPECT_EQ(control_letters.count(letter), 0u) << "two controls on Alt+" << letter;
      control_letters[letter] = text;
    }
  }
  for (const MenuTemplate& menu : MainWindowTemplate().menus) {
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(menu.title[0])));
    EXPECT_EQ(control_letters.count(letter), 0u)
        << menu.title << " and " << control_letters[letter];
  }

  ProxySettings settings;
  settings.log_file_name = "traffic.log";  // File Name enabled
  Open(settings);
  window_->OnIdle();
  ShowActive();
  dialog().FocusControl(kLocalPortField);
  HWND field = control(kLocalPortField);
  for (const auto& [letter, menu] :
       std::map<wchar_t, std::string>{{L'a', "&Action"}, {L'v', "&View"}, {L'h', "&Help"}}) {
    EXPECT_EQ(PressAltLetter(hwnd(), field, letter), menu);
  }
  for (const auto& [letter, id] : std::map<wchar_t, int>{{L'o', kOutputPane},
                                                         {L'r', kRemotePortField},
                                                         {L't', kRemoteHostField},
                                                         {L'n', kFileNameField},
                                                         {L'l', kLocalPortField}}) {
    EXPECT_EQ(PressAltLetter(hwnd(), GetFocus(), letter), "") << "no menu on Alt+" << char(letter);
    EXPECT_EQ(GetFocus(), control(id)) << "Alt+" << char(letter);
  }
  EXPECT_EQ(Text(kLocalPortField), "1999") << "nothing typed";
}

TEST_F(Win32MainWindowTest, TrafficPassesByteExactAndShowsInThePane) {
  testing::TestServer echo(testing::EchoHandler);
  ProxySettings settings = Forwarding(echo.port());
  settings.autostart = true;
  Open(settings);
  ASSERT_TRUE(window_->listener().IsRunning());
  Socket client = testing::ConnectLoopback(window_->listener().BoundPort());
  ASSERT_TRUE(client.valid());
  std::string sent = "hello through the window\n" + testing::PatternBytes(1 << 20, 7);
  std::string received;
  std::thread sender([&] { testing::SendBytes(client.fd(), sent); });
  // The GUI thread serves the pane while the bytes go round.
  ASSERT_TRUE(ServeUntil(
      [&] {
        while (testing::WaitReadableFor(client.fd(), 0) > 0) {
          char buffer[65536];
          const int got = recv(client.fd(), buffer, sizeof(buffer), 0);
          if (got <= 0) return true;
          received.append(buffer, got);
        }
        return received.size() >= sent.size();
      },
      20000));
  sender.join();
  EXPECT_TRUE(received == sent) << received.size() << " bytes back of " << sent.size();
  Win32OutputPane* pane = Win32DialogOf(dialog()).Pane(kOutputPane);
  ASSERT_NE(pane, nullptr);
  EXPECT_TRUE(ServeUntil([&] { return pane->queued_chars() == 0 && pane->LineCount() > 1; }));
  EXPECT_GT(pane->Text().size(), 0u);
}

TEST_F(Win32MainWindowTest, ConditionsDialogRendersThroughTheDialogManagerAndEscCancelsIt) {
  Open(ProxySettings{});
  window_->Show();
  // Looks at the modal box while it runs, then presses Esc in it.
  bool looked = false;
  dialog().SetTimer(98, std::chrono::milliseconds(50), [&] {
    HWND box = FindWindowW(nullptr, L"Traffic Conditions");
    if (box == nullptr || looked) return;
    looked = true;
    EXPECT_FALSE(IsWindowEnabled(hwnd())) << "modal over the main window";
    HWND field = GetDlgItem(box, 1100);  // the first condition field
    EXPECT_NE(field, nullptr);
    wchar_t window_class[16] = {};
    GetClassNameW(field, window_class, 16);
    EXPECT_EQ(_wcsicmp(window_class, L"Edit"), 0);
    PostMessageW(field, WM_KEYDOWN, VK_ESCAPE, 1);
  });
  SendMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(kConditionsCommand, 0), 0);
  dialog().KillTimer(98);
  EXPECT_TRUE(looked);
  EXPECT_TRUE(IsWindowEnabled(hwnd()));
}

TEST(Win32AboutBoxTest, ShowsTheVersionOfTheResourceAndLinksTheHomePage) {
  ProductVersionCache cache;
  UiServices services;
  services.version_cache = &cache;
  services.open_url = [](const std::string&) { return true; };
  AboutBox box(nullptr, services);
  std::string label;
  ASSERT_TRUE(box.dialog().GetControlText(kAboutVersionLabel, &label));
  EXPECT_EQ(label, "Portwick 1.7.0.0") << "from VerQueryValue of the VERSIONINFO";
  const VersionResource* block = ProgramModule().FindVersionResource();
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->file_version, (std::array<uint16_t, 4>{1, 7, 0, 156}));
  ASSERT_EQ(block->translations.size(), 2u);
  std::string internal;
  EXPECT_TRUE(block->QueryString("\\StringFileInfo\\000004B0\\InternalName", &internal));
  EXPECT_EQ(internal, "portwick");
  PostMessageW(Win32DialogOf(box.dialog()).hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
  EXPECT_EQ(box.Run(), 2);
}

}  // namespace
}  // namespace portwick

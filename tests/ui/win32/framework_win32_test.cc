// ui/framework on the Win32 dialog manager, driven in-process by messages:
// the sample template as real controls, commands from clicks, menus, keys
// and the close box, modal runs, the output pane, resizing and the link.
// <windows.h> comes first.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
// clang-format on

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/ui/framework/test_dialogs.h"
#include "ui/framework/data_exchange.h"
#include "ui/framework/message_loop.h"
#include "ui/framework/win32/dialog_resizer.h"
#include "ui/framework/win32/file_dialogs.h"
#include "ui/framework/win32/hyper_link_static.h"
#include "ui/framework/win32/menu_bar.h"
#include "ui/framework/win32/output_pane.h"
#include "ui/framework/win32/win32_dialog.h"
#include "win32_test_support.h"

namespace portwick {
namespace {

using namespace portwick::testing;

class Win32DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog_ = CreateDialog(SampleDialogTemplate(), DialogFrame::kOverlapped);
    ASSERT_TRUE(win32().created());
    // The name field too: its notifications must not come as commands.
    for (int id : {kGoButton, kOtherButton, kOptionBox, kNameEdit, kMenuGo, kMenuQuit, kCommandOk,
                   kCommandCancel}) {
      dialog_->OnCommand(id, [this, id] { commands_.push_back(id); });
    }
  }

  Win32Dialog& win32() { return Win32DialogOf(*dialog_); }
  HWND hwnd() { return win32().hwnd(); }
  HWND control(int id) { return win32().Control(id); }
  // Shown and active, with the focus in the name field.
  void ShowActive() {
    dialog_->Show();
    SetForegroundWindow(hwnd());
    dialog_->FocusControl(kNameEdit);
    ServeWaiting();
  }

  std::unique_ptr<Dialog> dialog_;
  std::vector<int> commands_;
};

TEST_F(Win32DialogTest, TemplateEntriesBecomeTheirControlsInDialogUnits) {
  const struct {
    int id;
    const wchar_t* window_class;
    const char* text;
  } kCases[] = {{kNameEdit, L"Edit", ""},          {kBrowseButton, L"Button", "Browse"},
                {kOptionBox, L"Button", "Option"}, {kCaption, L"Static", "Caption"},
                {kPane, L"RICHEDIT50W", ""},       {kFrame, L"Button", "Frame"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.id);
    wchar_t window_class[64] = {};
    GetClassNameW(control(c.id), window_class, 64);
    EXPECT_EQ(_wcsicmp(window_class, c.window_class), 0);
    std::string text;
    EXPECT_TRUE(dialog_->GetControlText(c.id, &text));
    EXPECT_EQ(text, c.text);
  }
  // Geometry is the template's, converted by the dialog manager.
  RECT units{60, 10, 60 + 100, 10 + 12};
  MapDialogRect(hwnd(), &units);
  const LayoutRect placed = ChildRect(control(kNameEdit));
  EXPECT_EQ(placed, (LayoutRect{units.left, units.top, units.right, units.bottom}));
  // The client area keeps the template's size below the menu bar.
  RECT size{0, 0, 290, 145};
  MapDialogRect(hwnd(), &size);
  RECT client{};
  GetClientRect(hwnd(), &client);
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);
  EXPECT_FALSE(IsWindowVisible(control(kHiddenButton)));
  EXPECT_EQ(LOWORD(SendMessageW(hwnd(), DM_GETDEFID, 0, 0)), kGoButton);
  EXPECT_EQ(dialog_->Title(), "Sample");
}

TEST_F(Win32DialogTest, ClicksMenusAndKeysBecomeCommandsAndNotificationsDoNot) {
  ShowActive();
  SendMessageW(control(kGoButton), BM_CLICK, 0, 0);
  SendMessageW(control(kOptionBox), BM_CLICK, 0, 0);
  SendMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(kMenuQuit, 0), 0);
  SetWindowTextW(control(kNameEdit), L"typed");  // EN_CHANGE from the name field
  SendMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(kNameEdit, EN_CHANGE),
               reinterpret_cast<LPARAM>(control(kNameEdit)));
  PressKey(control(kNameEdit), VK_RETURN);  // the default button
  PressKey(control(kNameEdit), VK_ESCAPE);  // cancel
  SendMessageW(hwnd(), WM_CLOSE, 0, 0);     // the close box
  EXPECT_EQ(commands_, (std::vector<int>{kGoButton, kOptionBox, kMenuQuit, kGoButton,
                                         kCommandCancel, kCommandCancel}));
  int32_t checked = 0;
  EXPECT_TRUE(dialog_->GetCheck(kOptionBox, &checked));
  EXPECT_EQ(checked, 1) << "an automatic check box";
}

TEST_F(Win32DialogTest, ModalRunEndsWithTheUnhandledCommandAndReenablesItsOwner) {
  std::unique_ptr<Dialog> modal = CreateDialog(SampleDialogTemplate(), DialogFrame::kModal, hwnd());
  for (int command : {kCommandOk, kCommandCancel}) {
    bool owner_disabled = false;
    modal->OnCommand(kGoButton, [&] { owner_disabled = !IsWindowEnabled(hwnd()); });
    // Go is handled and the run goes on; the unhandled OK or Esc ends it.
    PostMessageW(Win32DialogOf(*modal).hwnd(), WM_COMMAND, MAKEWPARAM(kGoButton, 0), 0);
    PostMessageW(Win32DialogOf(*modal).hwnd(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
    EXPECT_EQ(modal->RunModal(), command);
    EXPECT_TRUE(owner_disabled) << "the owner takes no input during the run";
    EXPECT_TRUE(IsWindowEnabled(hwnd()));
    EXPECT_FALSE(IsWindowVisible(Win32DialogOf(*modal).hwnd()));
  }
}

TEST_F(Win32DialogTest, ExchangeReadsFieldsBeepsAndFocusesTheFirstBadOne) {
  int beeps = 0;
  SetExchangeBeep([&] { ++beeps; });
  ShowActive();
  std::string name = "written";
  int32_t number = 42;
  int32_t option = 7;  // outside 0..2: written as 0
  const ExchangePair pairs[] = {ExchangePair::Text(kNameEdit, &name),
                                ExchangePair::Int(kNumberEdit, &number),
                                ExchangePair::Check(kOptionBox, &option)};
  EXPECT_TRUE(ExchangePairs(*dialog_, pairs, ExchangeDirection::kWrite));
  EXPECT_EQ(option, 0);
  dialog_->SetControlText(kNameEdit, "read back");
  dialog_->SetControlText(kNumberEdit, "12x");
  dialog_->SetCheck(kOptionBox, 2);
  EXPECT_FALSE(ExchangePairs(*dialog_, pairs, ExchangeDirection::kRead));
  EXPECT_EQ(name, "read back");
  EXPECT_EQ(number, 0);
  EXPECT_EQ(option, 0) << "not read after the bad field";
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(dialog_->FocusedControl(), kNumberEdit);
  // An indeterminate box reads 2, and a click leaves that state.
  EXPECT_TRUE(ExchangePairs(*dialog_, pairs, ExchangeDirection::kRead, kOptionBox));
  EXPECT_EQ(option, 2);
  for (int click = 0; click < 3; ++click) SendMessageW(control(kOptionBox), BM_CLICK, 0, 0);
  ReadCheck(*dialog_, kOptionBox, &option);
  EXPECT_NE(option, 2) << "two states only after a click";
  SetExchangeBeep({});
}

TEST_F(Win32DialogTest, ResizingMovesAndStretchesFromTheStateAtSetUp) {
  // Where the template put them, before any layout.
  const LayoutRect go = ChildRect(control(kGoButton));
  const LayoutRect pane = ChildRect(control(kPane));
  const LayoutRect frame = ChildRect(control(kFrame));
  dialog_->EnableResizing(SampleResizeTable());
  dialog_->Show();
  Win32DialogResizer* resizer = win32().resizer();
  ASSERT_NE(resizer, nullptr);
  ASSERT_NE(resizer->grip(), nullptr);
  EXPECT_EQ(ChildRect(control(kPane)), pane) << "shown at its first size, nothing moves";
  RECT outer{};
  GetWindowRect(hwnd(), &outer);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  // Smaller than at set-up is refused.
  SetWindowPos(hwnd(), nullptr, 0, 0, width - 50, height - 50, SWP_NOMOVE | SWP_NOZORDER);
  RECT now{};
  GetWindowRect(hwnd(), &now);
  EXPECT_EQ(now.right - now.left, width);
  EXPECT_EQ(now.bottom - now.top, height);

  SetWindowPos(hwnd(), nullptr, 0, 0, width + 100, height + 60, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(ChildRect(control(kGoButton)),
            (LayoutRect{go.left + 100, go.top, go.right + 100, go.bottom}));
  EXPECT_EQ(ChildRect(control(kPane)),
            (LayoutRect{pane.left, pane.top, pane.right + 100, pane.bottom + 60}));
  EXPECT_EQ(ChildRect(control(kFrame)).right, frame.right + 100);
  ShowWindow(hwnd(), SW_MAXIMIZE);
  EXPECT_FALSE(IsWindowVisible(resizer->grip()));
  ShowWindow(hwnd(), SW_RESTORE);
  EXPECT_TRUE(IsWindowVisible(resizer->grip()));
  SetWindowPos(hwnd(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(ChildRect(control(kGoButton)), go) << "back where it was";
  EXPECT_EQ(ChildRect(control(kPane)), pane);
}

TEST_F(Win32DialogTest, PaneTakesTextFromAnyThreadWithinItsBound) {
  Win32OutputPane::Limits limits;
  limits.max_chars = 2000;
  limits.max_lines = 40;
  limits.max_line_chars = 100;
  Win32OutputPane pane(control(kPane), limits);
  constexpr int kThreads = 3;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&pane, t] {
      for (int i = 0; i < 200; ++i) {
        pane.AppendText(("<" + std::to_string(t) + ":" + std::to_string(i) + ">\n").c_str());
      }
    });
  }
  // Appends don't wait for this thread, which serves nothing meanwhile.
  for (std::thread& writer : writers) writer.join();
  ASSERT_TRUE(ServeUntil([&] { return pane.queued_chars() == 0; }));
  const std::wstring text = pane.Text();
  EXPECT_LE(text.size(), 2000u);
  EXPECT_LE(pane.LineCount(), 40);
  // An unbroken tail of what was appended: what is left of each writer is
  // the end of its records, whole.
  int writers_seen = 0;
  for (int t = 0; t < kThreads; ++t) {
    int next = -1;
    for (int i = 0; i < 200; ++i) {
      const bool shown = text.find(L"<" + std::to_wstring(t) + L":" + std::to_wstring(i) +
                                   L">\n") != std::wstring::npos;
      if (shown && next == -1) next = i;
      EXPECT_TRUE(next == -1 || shown) << t << ":" << i << " missing after " << next;
    }
    writers_seen += next != -1 ? 1 : 0;
  }
  EXPECT_GT(writers_seen, 0);
  EXPECT_EQ(text.find(L"<0:0>"), std::wstring::npos) << "the oldest left first";
  // An endless line goes on in the next line; random bytes don't upset it.
  pane.ClearText();
  pane.AppendText(std::string(250, 'x').c_str());
  EXPECT_EQ(pane.Text(), std::wstring(100, L'x') + L"\n" + std::wstring(100, L'x') + L"\n" +
                             std::wstring(50, L'x'));
  std::string noise;
  for (int i = 1; i < 256 * 8; ++i) noise += static_cast<char>(i % 255 + 1);
  pane.AppendText(noise.c_str());
  EXPECT_LE(pane.Text().size(), 2000u);
  pane.ClearText();
  EXPECT_TRUE(pane.Text().empty());
  EXPECT_EQ(SendMessageW(control(kPane), EM_CANUNDO, 0, 0), 0);
}

// Idle work runs once each time the queue runs empty after a message that
// restarts it: a key press or a click does, mouse moves, paints and timers
// don't. The steps are driven by a timer, whose ticks restart nothing.
TEST_F(Win32DialogTest, LoopIdlesOnceAfterKeysAndClicksNotAfterMovesPaintsOrTimers) {
  ShowActive();
  MessageLoop loop;
  std::vector<std::string> log;
  struct CountingIdle : IdleHandler {
    std::vector<std::string>* log;
    bool OnIdle() override {
      log->push_back("idle");
      return true;  // the loop ignores it
    }
  } idle;
  idle.log = &log;
  loop.AddIdleHandler(&idle);
  HWND edit = control(kNameEdit);
  const std::vector<std::pair<const char*, std::function<void()>>> steps = {
      {"move", [&] { PostMessageW(edit, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3)); }},
      {"paint", [&] { InvalidateRect(hwnd(), nullptr, TRUE); }},
      {"timer", [] {}},
      {"key", [&] { PostMessageW(edit, WM_KEYDOWN, 'A', 1); }},
      {"click", [&] { PostMessageW(control(kOtherButton), BM_CLICK, 0, 0); }},
      {"move again", [&] { PostMessageW(edit, WM_MOUSEMOVE, 0, MAKELPARAM(4, 4)); }},
  };
  size_t next = 0;
  dialog_->SetTimer(1, std::chrono::milliseconds(40), [&] {
    if (next == steps.size()) {
      loop.PostQuit(7);
      return;
    }
    log.push_back(steps[next].first);
    steps[next++].second();
  });
  EXPECT_EQ(loop.Run(), 7);
  dialog_->KillTimer(1);
  EXPECT_EQ(log, (std::vector<std::string>{"idle", "move", "paint", "timer", "key", "idle", "click",
                                           "idle", "move again"}));
  // Filters see each message first, from the last added; a consumed one is
  // not dispatched.
  struct Eater : MessageFilter {
    bool PreTranslateMessage(const Message& message) override {
      return message.kind == MessageKind::kKeyDown && message.key == kKeyEscape;
    }
  } eater;
  loop.AddMessageFilter(&eater);
  commands_.clear();
  PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 1);
  PostMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(kGoButton, 0), 0);
  dialog_->SetTimer(1, std::chrono::milliseconds(40), [&] { loop.PostQuit(3); });
  EXPECT_EQ(loop.Run(), 3);
  EXPECT_EQ(commands_, std::vector<int>{kGoButton}) << "the Esc never reached the dialog";
}

TEST(Win32HyperLinkTest, ColoursFromTheRegistryTextAndVisitedAfterASuccessfulOpen) {
  EXPECT_EQ(ParseLinkColor("0,0,255"), RGB(0, 0, 255));
  EXPECT_EQ(ParseLinkColor("128,0,128"), RGB(128, 0, 128));
  for (const char* bad : {"", "1,2", "1,2,3,4", "256,0,0", "a,b,c", "1,,3", " 1,2,3", "0001,2,3"}) {
    EXPECT_FALSE(ParseLinkColor(bad).has_value()) << bad;
  }
  std::unique_ptr<Dialog> dialog = CreateDialog(SampleDialogTemplate(), DialogFrame::kModal);
  std::vector<std::string> opened;
  bool succeed = false;
  ASSERT_TRUE(dialog->MakeLink(kCaption, "https://example.invalid/x", [&](const std::string& a) {
    opened.push_back(a);
    return succeed;
  }));
  Win32HyperLink* link = Win32DialogOf(*dialog).Link(kCaption);
  HWND label = Win32DialogOf(*dialog).Control(kCaption);
  SendMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  EXPECT_FALSE(link->visited()) << "the shell reported failure";
  succeed = true;
  SendMessageW(label, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_TRUE(link->visited());
  EXPECT_EQ(link->current_color(), BrowserLinkColors().visited);
  SendMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(-5, 2));  // released outside
  EXPECT_EQ(opened,
            (std::vector<std::string>{"https://example.invalid/x", "https://example.invalid/x"}));
}

TEST(Win32MenuTest, TitlesGetMnemonicsAndShortcutsBecomeAccelerators) {
  EXPECT_EQ(MenuTitleWithMnemonic("Help"), "&Help");
  EXPECT_EQ(MenuTitleWithMnemonic("&File"), "&File");
  const struct {
    const char* shortcut;
    bool ok;
    BYTE flags;
    WORD key;
  } kCases[] = {{"Ctrl+L", true, FVIRTKEY | FCONTROL, 'L'},
                {"Shift+F3", true, FVIRTKEY | FSHIFT, VK_F3},
                {"Ctrl+Shift+f", true, FVIRTKEY | FCONTROL | FSHIFT, 'F'},
                {"F3", true, FVIRTKEY, VK_F3},
                {"Meta+L", false, 0, 0},
                {"Ctrl+", false, 0, 0},
                {"F25", false, 0, 0}};
  for (const auto& c : kCases) {
    const std::optional<ACCEL> accel = AcceleratorOf(c.shortcut, 77);
    ASSERT_EQ(accel.has_value(), c.ok) << c.shortcut;
    if (!c.ok) continue;
    EXPECT_EQ(accel->fVirt, c.flags) << c.shortcut;
    EXPECT_EQ(accel->key, c.key) << c.shortcut;
    EXPECT_EQ(accel->cmd, 77);
  }
  EXPECT_EQ(SaveFilterString({"Log Files (*.log)", "All Files (*.*)"}),
            std::wstring(L"Log Files (*.log)\0*.log\0All Files (*.*)\0*.*\0\0", 45));
}

}  // namespace
}  // namespace portwick

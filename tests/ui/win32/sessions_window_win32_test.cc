// The Win32 Sessions window driven through its controls' own messages, as
// the controls send them when a user acts: the rows the list views ask for,
// a selection in the list, text typed into the filter and find boxes,
// check-box and button clicks, header clicks, and keys posted to the
// thread's queue and pumped as a message loop would, so that they pass the
// window's keyboard hook (accelerators, Ctrl+C, Enter, Esc, Tab).
#include <gtest/gtest.h>
#include <windows.h>

#include "ui/win32/sessions_window.h"
// After windows.h.
#include <commctrl.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>

#include "base/status.h"
#include "base/windows/win32_text.h"
#include "capture_events.h"
#include "read_file.h"
#include "scripted_file_choosers.h"
#include "ui/sessions/view_rules.h"
#include "win32_test_support.h"

namespace portwick {
namespace {

using testing::EventFeeder;
using testing::PressKey;
using testing::ServeWaiting;
using Window = Win32SessionsWindow;
constexpr Direction kUp = Direction::kClientToServer;
constexpr Direction kDown = Direction::kServerToClient;

std::string Cell(HWND list, int row, int column = 0) {
  wchar_t text[512] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 512;
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return Utf8FromUtf16(text);
}

int Rows(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

int NextItem(HWND list, UINT which) {
  return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), which));
}

void Select(HWND list, int row) {
  LVITEMW item{};
  item.state = item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

bool AtEnd(HWND list) {
  return SendMessageW(list, LVM_GETTOPINDEX, 0, 0) +
             SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0) >=
         Rows(list);
}

std::string Clipboard() {
  std::string text;
  if (!OpenClipboard(nullptr)) return "(clipboard busy)";
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    text = Utf8FromUtf16(static_cast<const wchar_t*>(GlobalLock(data)));
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

class Win32SessionsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(window_.hwnd(), nullptr) << "no window: under Wine this needs an X display";
    feeder_.OpenAndConnect(1);
    feeder_.Chunk(1, kUp, "GET /index.html HTTP/1.1\r\nHost: example\r\n\r\n");
    feeder_.Chunk(1, kDown, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
    feeder_.OpenAndConnect(2);
    feeder_.Chunk(2, kUp, std::string("\x00\x01\x02\xff", 4));
    feeder_.Open(3);
    feeder_.FailConnect(3, "connect", ECONNREFUSED, "Connection refused");
    feeder_.Close(3, CloseReason::kConnectFailed);
    window_.SetStore(store_);
    SetWindowPos(window_.hwnd(), nullptr, 0, 0, 900, 560, SWP_NOMOVE | SWP_NOZORDER);
    window_.Present();
    ServeWaiting();
  }

  HWND At(Window::Control id) const { return window_.control(id); }
  void Type(Window::Control box, const wchar_t* text) {
    SetWindowTextW(At(box), text);
    ServeWaiting();
  }
  void Click(Window::Control button) {
    SendMessageW(At(button), BM_CLICK, 0, 0);
    ServeWaiting();
  }

  std::shared_ptr<CaptureStore> store_ = std::make_shared<CaptureStore>();
  EventFeeder feeder_{store_.get()};
  ScriptedFileChoosers choosers_;
  Window window_{&choosers_};
};

TEST_F(Win32SessionsWindowTest, TheListSelectsFiltersAndShowsTheConversationAsTextOrHex) {
  const HWND list = At(Window::kSessionList);
  const HWND conversation = At(Window::kConversationList);
  ASSERT_EQ(Rows(list), 3);
  EXPECT_EQ(Cell(list, 0, SessionTable::kNumber), "1");
  EXPECT_EQ(Cell(list, 2, SessionTable::kState), "failed: connect: Connection refused");
  EXPECT_EQ(window_.selected_session(), 3u) << "the newest, as the window opened";
  EXPECT_EQ(NextItem(list, LVNI_SELECTED), 2);

  Select(list, 0);  // as a click on the first row notifies
  EXPECT_EQ(window_.selected_session(), 1u);
  ASSERT_EQ(Rows(conversation), 9);
  EXPECT_EQ(Cell(conversation, 1), "> GET /index.html HTTP/1.1\\r");
  EXPECT_EQ(Cell(conversation, 8), "< hello");

  Type(Window::kFilterBox, L"REFUSED");
  ASSERT_EQ(Rows(list), 1);
  EXPECT_EQ(Cell(list, 0), "3");
  EXPECT_EQ(window_.selected_session(), 1u) << "a hidden session stays shown below";
  Type(Window::kFilterBox, L"");
  EXPECT_EQ(Rows(list), 3);

  Click(Window::kHexBox);
  ASSERT_GE(Rows(conversation), 2);
  EXPECT_EQ(Cell(conversation, 1).substr(0, 20), "> 0000  47 45 54 20 ");
  Click(Window::kHexBox);
  EXPECT_EQ(Cell(conversation, 1), "> GET /index.html HTTP/1.1\\r");
}

TEST_F(Win32SessionsWindowTest, FindByKeysAndButtonsMovesTheFocusToTheMatchAndSaysWhere) {
  window_.SelectSession(1);
  const HWND conversation = At(Window::kConversationList);
  const HWND find = At(Window::kFindBox);
  SetFocus(conversation);
  PressKey(conversation, 'F', {VK_CONTROL});
  EXPECT_EQ(GetFocus(), find) << "Ctrl+F";
  Type(Window::kFindBox, L"HTTP/1.1");
  // Each key finds from the match before: the line it focuses, what it says
  // (at the start of the message when `first`).
  const struct {
    UINT key;
    std::vector<UINT> held;
    int line;
    const char* says;
    bool first;
  } kKeys[] = {{VK_F3, {}, 1, "Found at byte 17 of chunk 1 (client \u2192 server, 12:00:00.", true},
               {VK_F3, {}, 5, "Found at", true},                // the reply's status line
               {VK_RETURN, {}, 1, "from the start", false},     // Enter finds too, from the top
               {VK_F3, {VK_SHIFT}, 5, "from the end", false}};  // Shift+F3 goes back
  for (const auto& k : kKeys) {
    PressKey(find, k.key, k.held);
    EXPECT_EQ(NextItem(conversation, LVNI_FOCUSED), k.line) << k.says;
    const size_t at = window_.message().find(k.says);
    EXPECT_TRUE(k.first ? at == 0 : at != std::string::npos) << window_.message();
  }
  EXPECT_EQ(NextItem(conversation, LVNI_SELECTED), -1) << "the match is marked, not its line";
  // Hex and text finds from the buttons.
  const struct {
    int kind;
    const wchar_t* text;
    Window::Control button;
    const char* says;
    bool first;
  } kButtons[] = {
      {1, L"0d 0a 68 65 6c 6c", Window::kNextButton, "Found at byte 37 of chunk 2", true},
      {1, L"0d 0", Window::kPreviousButton, "not hex bytes", false},
      {0, L"absent", Window::kNextButton, "not found", false}};
  for (const auto& b : kButtons) {
    SendMessageW(At(Window::kFindKind), CB_SETCURSEL, static_cast<WPARAM>(b.kind), 0);
    Type(Window::kFindBox, b.text);
    Click(b.button);
    const size_t at = window_.message().find(b.says);
    EXPECT_TRUE(b.first ? at == 0 : at != std::string::npos) << window_.message();
  }
}

TEST_F(Win32SessionsWindowTest, FollowKeepsTheEndInViewUntilTheUserScrollsUp) {
  window_.SelectSession(1);
  const HWND conversation = At(Window::kConversationList);
  auto more = [&](int n) {
    for (int i = 0; i < n; ++i) feeder_.Chunk(1, i % 2 ? kDown : kUp, "line\n");
    window_.Refresh();
    ServeWaiting();
  };
  more(200);
  ASSERT_GT(Rows(conversation), SendMessageW(conversation, LVM_GETCOUNTPERPAGE, 0, 0));
  EXPECT_TRUE(AtEnd(conversation)) << "followed";
  SendMessageW(conversation, LVM_ENSUREVISIBLE, 0, FALSE);  // the user scrolls up
  more(50);
  EXPECT_EQ(SendMessageW(conversation, LVM_GETTOPINDEX, 0, 0), 0) << "stays where the user is";
  SendMessageW(conversation, LVM_ENSUREVISIBLE, static_cast<WPARAM>(Rows(conversation) - 1), FALSE);
  more(50);
  EXPECT_TRUE(AtEnd(conversation)) << "follows again";
  Click(Window::kFollowBox);
  more(50);
  EXPECT_FALSE(AtEnd(conversation)) << "Follow off";
}

TEST_F(Win32SessionsWindowTest, CopyKeysFillTheClipboardAndExportGoesThroughTheSaveDialog) {
  window_.SelectSession(2);
  const HWND conversation = At(Window::kConversationList);
  Select(conversation, 1);
  SetFocus(conversation);
  PressKey(conversation, 'C', {VK_CONTROL});
  EXPECT_EQ(Clipboard(), "\\0\\x01\\x02\\xff\r\n");
  EXPECT_EQ(window_.message(), CopiedText(1, false));
  PressKey(conversation, 'C', {VK_CONTROL, VK_SHIFT});
  EXPECT_EQ(Clipboard(), "00 01 02 ff\r\n");
  // Leaves the clipboard empty: a program that ends owning it makes Wine's
  // clipboard manager take the data over, which held up the next window
  // test for seconds.
  if (OpenClipboard(nullptr)) {
    EmptyClipboard();
    CloseClipboard();
  }

  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("portwick-export-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(dir);
  const std::string bytes = Utf8FromUtf16((dir / "up.bin").wstring());
  choosers_.answers = {bytes, Utf8FromUtf16((dir / "no" / "x.pcapng").wstring())};
  auto menu = [&](SessionExportKind kind) {  // as the Export menu's items send it
    SendMessageW(window_.hwnd(), WM_COMMAND, Window::kExportCommand + static_cast<int>(kind), 0);
  };
  menu(SessionExportKind::kClientBytes);
  EXPECT_EQ(testing::ReadFile(bytes), std::string("\x00\x01\x02\xff", 4));
  ASSERT_EQ(choosers_.requests.size(), 1u);
  EXPECT_EQ(choosers_.requests[0].initial_name, "session-2-client-to-server.bin");
  EXPECT_EQ(choosers_.owners[0], window_.hwnd());
  EXPECT_EQ(window_.message(), "Exported to " + bytes);

  menu(SessionExportKind::kPcapngAll);
  ASSERT_EQ(choosers_.errors.size(), 1u);
  EXPECT_NE(choosers_.errors[0].find(": open: " + ErrorText(ENOENT)), std::string::npos)
      << choosers_.errors[0];
  menu(SessionExportKind::kTranscript);  // cancelled: nothing happens
  EXPECT_EQ(choosers_.errors.size(), 1u);
  std::filesystem::remove_all(dir);
}

TEST_F(Win32SessionsWindowTest, HeaderClicksSortAndTheSelectionFollowsItsSession) {
  const HWND list = At(Window::kSessionList);
  window_.SelectSession(1);
  const HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  auto click_header = [&](int column) {  // as the header tells its list view
    NMHEADERW click{};
    click.hdr.hwndFrom = header;
    click.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(header));
    click.hdr.code = HDN_ITEMCLICKW;
    click.iItem = column;
    SendMessageW(list, WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
    ServeWaiting();
  };
  click_header(SessionTable::kUp);
  EXPECT_EQ(Cell(list, 0), "3") << "0 bytes up first";
  EXPECT_EQ(NextItem(list, LVNI_SELECTED), 2) << "session 1 moved down with its selection";
  click_header(SessionTable::kUp);
  EXPECT_EQ(Cell(list, 0), "1") << "44 bytes up, the most, first";
  EXPECT_EQ(NextItem(list, LVNI_SELECTED), 0);

  window_.SetStore(std::make_shared<CaptureStore>());
  EXPECT_EQ(Rows(list), 0);
  EXPECT_EQ(Rows(At(Window::kConversationList)), 0);
  EXPECT_EQ(window_.selected_session(), 0u);
}

TEST_F(Win32SessionsWindowTest, TabMnemonicsEscAndCloseWorkAsInADialog) {
  SetFocus(At(Window::kFilterBox));
  PressKey(At(Window::kFilterBox), VK_TAB);
  EXPECT_EQ(GetFocus(), At(Window::kSessionList));
  PressKey(At(Window::kSessionList), 'X', {VK_MENU});  // Alt+X: He&x
  EXPECT_EQ(SendMessageW(At(Window::kHexBox), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(window_.lines().mode(), ConversationLines::Mode::kHex);

  PressKey(At(Window::kFindBox), VK_ESCAPE);
  EXPECT_FALSE(IsWindowVisible(window_.hwnd())) << "Esc hides";
  window_.Present();
  ServeWaiting();
  SendMessageW(window_.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(window_.hwnd()));
  EXPECT_FALSE(IsWindowVisible(window_.hwnd())) << "closing hides, the window stays";
}

}  // namespace
}  // namespace portwick
